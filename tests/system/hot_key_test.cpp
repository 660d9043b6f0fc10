#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::HotKeyChord;
using platform::sim::TraceEvent;
using platform::sim::TraceKind;
using test_support::HostTest;
using test_support::RecordingDelegate;

class GlobalHotKeyTest : public HostTest {
 protected:
  // Launches with the panel closed, so a capture shows in the panel coming up.
  void launchHidden() {
    launch();
    ASSERT_TRUE(panel()->userClickCloseButton());
  }
  // Presses a chord and lets any capture it starts run to its end.
  void press(std::uint32_t keyCode, std::uint32_t modifiers) {
    desktop.hotKeys().pressKey(keyCode, modifiers);
    desktop.advance(1.5);
  }
  const std::vector<std::string> oneCopy = {"C down -> 201", "C up -> 201"};
};

TEST_F(GlobalHotKeyTest, StartUpRegistersCommandShiftTForKeyPressesOnly) {
  launch();
  const auto registrations = desktop.hotKeys().registrations();
  ASSERT_EQ(registrations.size(), 1u);
  EXPECT_EQ(registrations[0].chord, (HotKeyChord{17, 0x300}));
  EXPECT_EQ(registrations[0].id.signature, platform::fourCharCode("QMHK"));
  EXPECT_EQ(registrations[0].id.id, 1u);
  const auto handlers = desktop.hotKeys().handlers();
  ASSERT_EQ(handlers.size(), 1u);
  ASSERT_EQ(handlers[0].types.size(), 1u);
  EXPECT_EQ(handlers[0].types[0].eventClass, platform::kEventClassKeyboard);
  EXPECT_EQ(handlers[0].types[0].eventKind, platform::kEventHotKeyPressed);
}

// Probes the moment right after the host's handler returned: the press is
// handled, but the capture only waits on the main queue.
struct AfterHandler {
  platform::sim::SimDesktop* desktop;
  platform::sim::SimPanel* panel;
  bool panelVisible = true;
  std::size_t pendingMain = 0;
};

platform::OSStatus probeAfterHostHandler(platform::EventHandlerCallRef,
                                         platform::EventRef,
                                         void* userData) {
  auto* probe = static_cast<AfterHandler*>(userData);
  probe->panelVisible = probe->panel->isVisible();
  probe->pendingMain = probe->desktop->clock().pendingMainCount();
  return platform::noErr;
}

TEST_F(GlobalHotKeyTest, EachPressStartsOneCaptureFromTheMainQueue) {
  launchHidden();
  AfterHandler probe{&desktop, panel().get()};
  const platform::EventTypeSpec pressed{platform::kEventClassKeyboard,
                                        platform::kEventHotKeyPressed};
  auto& hotKeys = desktop.hotKeys();
  hotKeys.InstallEventHandler(hotKeys.GetApplicationEventTarget(), &probeAfterHostHandler, 1,
                              &pressed, &probe, nullptr);
  hotKeys.pressKey(17, 0x300);
  desktop.runUntilIdle();
  ASSERT_EQ(hotKeys.presses().size(), 1u);
  EXPECT_EQ(hotKeys.presses()[0].handlerResults,
            (std::vector<platform::OSStatus>{platform::noErr, platform::noErr}));
  EXPECT_FALSE(probe.panelVisible);
  EXPECT_GE(probe.pendingMain, 1u);
  EXPECT_TRUE(panel()->isVisible());
  desktop.advance(1.5);
  EXPECT_EQ(postedChords(), oneCopy);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});

  panel()->userClickCloseButton();
  press(17, 0x300);
  EXPECT_EQ(selectionUpdates(), (std::vector<std::string>{"selected text", "selected text"}));
}

TEST_F(GlobalHotKeyTest, ChordsThatAreNotRegisteredStartNothing) {
  launchHidden();
  press(17, platform::cmdKey);
  press(17, 0x300 | platform::optionKey);
  press(1, 0x300);
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(postedChords().empty());
}

TEST_F(GlobalHotKeyTest, SettingTheCurrentChordAgainKeepsItWorking) {
  launchHidden();
  std::vector<std::string> changes;
  desktop.setTraceListener([&](const TraceEvent& e) {
    if (e.kind == TraceKind::hotKeyRegistered || e.kind == TraceKind::hotKeyUnregistered) {
      changes.push_back(platform::sim::toString(e.kind));
    }
  });
  EXPECT_EQ(host().updateGlobalHotKey(17, 0x300), platform::noErr);
  EXPECT_EQ(changes, (std::vector<std::string>{"hotKeyUnregistered", "hotKeyRegistered"}));
  press(17, 0x300);
  EXPECT_EQ(postedChords(), oneCopy);
}

// A mask is registered bit for bit: 0 is the bare key, and bits of another
// convention are not translated.
TEST_F(GlobalHotKeyTest, MasksAreRegisteredUnchanged) {
  launchHidden();
  host().updateGlobalHotKey(0x7A, 0);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{0x7A, 0}}));
  press(0x7A, 0);
  EXPECT_EQ(postedChords(), oneCopy);
  host().updateGlobalHotKey(17, platform::NSEventModifierFlagCommand);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{17, 0x100000}}));
}

TEST_F(GlobalHotKeyTest, RefusedChordLeavesThePreviousOneInForce) {
  launchHidden();
  ASSERT_EQ(host().updateGlobalHotKey(49, 0x900), platform::noErr);
  desktop.hotKeys().takeHotKey(50, platform::cmdKey);
  EXPECT_NE(host().updateGlobalHotKey(50, platform::cmdKey), platform::noErr);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{49, 0x900}}));
  EXPECT_TRUE(host().hasHotKey());
  press(50, platform::cmdKey);
  EXPECT_TRUE(postedChords().empty());
  press(49, 0x900);
  EXPECT_EQ(postedChords(), oneCopy);
}

// Another application holds the default: the host starts without a hot key,
// a refused change leaves it without one, and a free chord takes.
TEST_F(GlobalHotKeyTest, WithoutAHotKeyOnlyASuccessfulChangeRegistersOne) {
  desktop.hotKeys().takeHotKey(17, 0x300);
  launch();
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_FALSE(host().hasHotKey());
  EXPECT_TRUE(desktop.hotKeys().registrations().empty());
  // The default was never in force, so it is not what a refusal falls back to.
  desktop.hotKeys().releaseHotKey(17, 0x300);
  desktop.hotKeys().takeHotKey(49, platform::cmdKey);
  EXPECT_NE(host().updateGlobalHotKey(49, platform::cmdKey), platform::noErr);
  EXPECT_TRUE(desktop.hotKeys().registrations().empty());
  EXPECT_EQ(host().updateGlobalHotKey(49, platform::controlKey), platform::noErr);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{49, 0x1000}}));
}

TEST_F(GlobalHotKeyTest, PressDoesNothingWhenTheDelegateIsNoAppDelegate) {
  launchHidden();
  auto stranger = std::make_shared<RecordingDelegate>();
  desktop.application().setDelegate(stranger);
  press(17, 0x300);
  EXPECT_EQ(desktop.hotKeys().presses().back().handlerResults,
            std::vector<platform::OSStatus>{platform::noErr});
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(postedChords().empty());
}

TEST_F(GlobalHotKeyTest, PressDoesNothingOnceTheDelegateIsReleased) {
  launch();
  releaseDelegate();
  ASSERT_EQ(desktop.application().delegate(), nullptr);
  press(17, 0x300);
  EXPECT_TRUE(desktop.hotKeys().presses().back().delivered);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_FALSE(desktop.windows().anyVisible());
}

// Each press reaches the host of the desktop it was pressed on, and only it:
// the handler's context is its own desktop, not a process-wide one.
TEST_F(GlobalHotKeyTest, TwoDesktopsInOneProcessNeverSeeEachOthersPresses) {
  launchHidden();
  platform::sim::SimDesktop other;
  other.accessibility().setTrusted(true);
  auto otherEditor = other.addApplication({"Other editor", "com.example.other", 301});
  otherEditor->setSelection("other text");
  other.bringToFront(otherEditor);
  other.runUntilIdle();
  {
    auto otherUi = loadMainInterface(other);
    other.application().run();
    other.hotKeys().pressKey(17, 0x300);
    other.advance(1.5);
    desktop.advance(1.5);
    EXPECT_TRUE(postedChords().empty());
    EXPECT_FALSE(panel()->isVisible());
    ASSERT_EQ(other.keyboardEvents().posted().size(), 2u);
    EXPECT_EQ(other.keyboardEvents().posted()[0].pid, 301);

    press(17, 0x300);
    EXPECT_EQ(postedChords(), oneCopy);
    EXPECT_EQ(other.keyboardEvents().posted().size(), 2u);
  }
  other.clock().advanceUntilEmpty(60);
}

}  // namespace
}  // namespace lumivane
