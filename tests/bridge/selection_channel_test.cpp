#include <gtest/gtest.h>

#include "tests/support/clipboard_fixture.h"

namespace lumivane {
namespace {

using platform::EncodableList;
using platform::EncodableMap;
using platform::EncodableValue;
using platform::PeerReply;
using platform::sim::TraceKind;
using test_support::ClipboardHostTest;

// The interface's side of "com.lumivane.app/selection": every call crosses
// the codec both ways, as it would from the engine.
class SelectionChannelTest : public ClipboardHostTest {
 protected:
  void expectInvalidTextArgument(const PeerReply& reply) {
    EXPECT_EQ(reply.kind, PeerReply::Kind::error);
    EXPECT_EQ(reply.code, "INVALID_ARGUMENT");
    EXPECT_EQ(reply.message, "Text argument required");
    EXPECT_EQ(reply.details, EncodableValue());
  }
};

TEST_F(SelectionChannelTest, GetSelectionAnswersWithTheCopiedTextOnceTheCopyIsRead) {
  launch();
  const double t0 = desktop.now();
  auto reply = callSelection("getSelection");
  EXPECT_EQ(reply.kind, PeerReply::Kind::success);
  EXPECT_EQ(reply.value, EncodableValue("selected text"));
  // The answer was held until the first read, 0.1 s after the chord.
  EXPECT_NEAR(desktop.now() - t0, 0.1, 1e-9);
  EXPECT_EQ(postedChords(), (std::vector<std::string>{"C down -> 201", "C up -> 201"}));
  EXPECT_TRUE(clipboardIsTheUsers());
  // Answered, not pushed.
  desktop.advance(1);
  EXPECT_TRUE(selectionUpdates().empty());
}

TEST_F(SelectionChannelTest, GetSelectionCopiesFromTheRecordedApplicationWithoutLookingAgain) {
  launch();
  auto mail = desktop.addApplication({"Mail", "com.example.Mail", 202, "from mail"});
  // In front, but its activation has not been handled yet.
  desktop.bringToFront(mail);
  EXPECT_EQ(callSelection("getSelection").value, EncodableValue("selected text"));
  EXPECT_EQ(postedChords()[0], "C down -> 201");
}

TEST_F(SelectionChannelTest, WithoutPermissionGetSelectionAnswersNothingAndSendsNoKeys) {
  desktop.accessibility().setTrusted(false);
  launch();
  const auto opsBefore = desktop.generalPasteboard().operations().size();
  EXPECT_EQ(callSelection("getSelection").value, EncodableValue());
  EXPECT_TRUE(postedChords().empty());
  EXPECT_EQ(desktop.generalPasteboard().operations().size(), opsBefore);
  EXPECT_TRUE(desktop.accessibility().promptTimes().empty());
}

// Asked anew each time, never with the prompt.
TEST_F(SelectionChannelTest, CheckPermissionReportsTheCurrentTrust) {
  launch();
  EXPECT_EQ(callSelection("checkPermission").value, EncodableValue(true));
  desktop.accessibility().setTrusted(false);
  EXPECT_EQ(callSelection("checkPermission").value, EncodableValue(false));
  EXPECT_TRUE(desktop.accessibility().promptTimes().empty());
  EXPECT_TRUE(panel()->isVisible());
}

// The platform's prompt must not come up behind the floating panel, so the
// panel goes first, trusted or not.
TEST_F(SelectionChannelTest, RequestPermissionHidesThePanelAndThenPrompts) {
  desktop.accessibility().setTrusted(false);
  launch();
  std::vector<TraceKind> seen;
  desktop.setTraceListener([&](const platform::sim::TraceEvent& e) { seen.push_back(e.kind); });
  EXPECT_EQ(callSelection("requestPermission").value, EncodableValue(false));
  EXPECT_EQ(seen,
            (std::vector<TraceKind>{TraceKind::windowHidden, TraceKind::accessibilityPrompt}));
  EXPECT_EQ(desktop.accessibility().promptTimes().size(), 1u);
  desktop.advance(1);
  EXPECT_FALSE(panel()->isVisible());

  desktop.accessibility().setTrusted(true);
  desktop.application().reopen();
  EXPECT_EQ(callSelection("requestPermission").value, EncodableValue(true));
  EXPECT_FALSE(panel()->isVisible());
}

TEST_F(SelectionChannelTest, PasteTextWithoutAStringIsRefusedAndDoesNothing) {
  launch();
  const auto opsBefore = desktop.generalPasteboard().operations().size();
  const std::optional<EncodableValue> hostile[] = {
      std::nullopt,
      EncodableValue(std::int64_t{42}),
      EncodableValue(true),
      EncodableValue(EncodableMap{{EncodableValue("text"), EncodableValue("x")}}),
      EncodableValue(EncodableList{EncodableValue("x")}),
  };
  for (const auto& args : hostile)
    expectInvalidTextArgument(callSelection("pasteText", args));
  desktop.advance(1);
  EXPECT_EQ(desktop.generalPasteboard().operations().size(), opsBefore);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(postedChords().empty());
}

// The interface calls the channels by these names, written out: a renamed
// channel would leave it talking to nobody.
TEST_F(SelectionChannelTest, TheChannelsAnswerUnderTheNamesTheInterfaceUses) {
  launch();
  EXPECT_EQ(callOnce("com.lumivane.app/selection", "checkPermission").value, EncodableValue(true));
  EXPECT_EQ(callOnce("com.lumivane.app/system", "getLaunchAtLogin").kind, PeerReply::Kind::success);
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.5);
  ASSERT_EQ(peer->receivedCalls().size(), 1u);
  EXPECT_EQ(peer->receivedCalls()[0].channel, "com.lumivane.app/selection");
  EXPECT_EQ(peer->receivedCalls()[0].method, "updateSelection");
}

TEST_F(SelectionChannelTest, MethodNamesMatchExactly) {
  launch();
  for (const char* name : {"GetSelection", "checkpermission", "PASTETEXT", "startWindowdrag",
                           "updateSelection", "", "getSelection "}) {
    EXPECT_EQ(callSelection(name, EncodableValue("x")).kind, PeerReply::Kind::notImplemented)
        << name;
  }
  EXPECT_TRUE(postedChords().empty());
}

TEST_F(SelectionChannelTest, StartWindowDragUsesTheEventBeingHandled) {
  launch();
  auto* panelState = platform::sim::SimWindowState::from(panel());
  EXPECT_EQ(callSelection("startWindowDrag").value, EncodableValue());
  EXPECT_TRUE(panelState->drags().empty());

  const platform::Event press{platform::EventType::leftMouseDown, 0, {10, 10}, desktop.now()};
  PeerReply reply;
  desktop.application().handleEvent(press, [&] { reply = callSelection("startWindowDrag"); });
  EXPECT_EQ(reply.kind, PeerReply::Kind::success);
  EXPECT_EQ(reply.value, EncodableValue());
  ASSERT_EQ(panelState->drags().size(), 1u);
  EXPECT_EQ(panelState->drags()[0].event.type, platform::EventType::leftMouseDown);
}

// Once the delegate is gone each method has a fixed answer; the argument
// check still comes first. The panel on screen keeps the engine, and so the
// channel, alive.
TEST_F(SelectionChannelTest, AfterTheDelegateIsReleasedEveryMethodGivesItsFixedAnswer) {
  launch();
  auto onScreen = panel();
  const auto queriesBefore = desktop.accessibility().queries().size();
  const platform::Event press{platform::EventType::leftMouseDown, 0, {10, 10}, desktop.now()};
  releaseDelegate();
  EXPECT_EQ(callSelection("getSelection").value, EncodableValue());
  PeerReply drag;
  desktop.application().handleEvent(press, [&] { drag = callSelection("startWindowDrag"); });
  EXPECT_EQ(drag.kind, PeerReply::Kind::success);
  EXPECT_EQ(drag.value, EncodableValue());
  EXPECT_EQ(callSelection("checkPermission").value, EncodableValue(false));
  EXPECT_EQ(callSelection("requestPermission").value, EncodableValue(false));
  EXPECT_EQ(callSelection("pasteText", EncodableValue("x")).value, EncodableValue(false));
  expectInvalidTextArgument(callSelection("pasteText", EncodableValue(std::int64_t{1})));
  EXPECT_EQ(callSelection("nonsense").kind, PeerReply::Kind::notImplemented);
  EXPECT_EQ(desktop.accessibility().queries().size(), queriesBefore);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(clipboardIsTheUsers());
}

}  // namespace
}  // namespace lumivane
