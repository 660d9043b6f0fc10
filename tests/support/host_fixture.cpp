#include "tests/support/host_fixture.h"

namespace lumivane::test_support {

using platform::EncodableMap;
using platform::EncodableValue;

void HostTest::SetUp() {
  desktop.accessibility().setTrusted(true);
  editor = frontApp("Editor", 201);
}

void HostTest::TearDown() {
  peer.reset();
  ui = {};
  editor.reset();
  // Whatever the host left scheduled runs or is dropped as at the end of the
  // process; nothing may stay alive.
  desktop.clock().advanceUntilEmpty(60);
  SimDesktopTest::TearDown();
}

void HostTest::launch() {
  ui = loadMainInterface(desktop);
  desktop.application().run();
  if (auto controller = host().viewController()) {
    peer = std::make_unique<platform::InterfacePeer>(controller->engine().interfaceMessenger());
    peer->listen(kSelectionChannelName);
    peer->listen(kSystemChannelName);
  }
}

std::shared_ptr<platform::sim::SimPanel> HostTest::panel() const {
  return std::dynamic_pointer_cast<platform::sim::SimPanel>(ui.delegate->panel());
}

void HostTest::releaseDelegate() {
  ui.delegate.reset();
}

platform::PeerReply HostTest::callSelection(const std::string& method,
                                            std::optional<EncodableValue> args) {
  return callOnce(kSelectionChannelName, method, std::move(args));
}

platform::PeerReply HostTest::callSystem(const std::string& method,
                                         std::optional<EncodableValue> args) {
  return callOnce(kSystemChannelName, method, std::move(args));
}

platform::PeerReply HostTest::callOnce(const std::string& channel,
                                       const std::string& method,
                                       std::optional<EncodableValue> args) {
  auto controller = ui.delegate ? host().viewController() : nullptr;
  const int repeatedBefore = controller ? controller->engine().repeatedReplyCount() : 0;
  auto reply = peer->invoke(channel, method, std::move(args));
  // Every call is answered exactly once, before its handler returns.
  EXPECT_NE(reply.kind, platform::PeerReply::Kind::unanswered) << method;
  EXPECT_NE(reply.kind, platform::PeerReply::Kind::malformed) << method;
  if (controller) {
    EXPECT_EQ(controller->engine().repeatedReplyCount(), repeatedBefore)
        << method << " was answered more than once";
  }
  return reply;
}

std::vector<std::string> HostTest::selectionUpdates() {
  std::vector<std::string> texts;
  for (const auto& call : peer->receivedCalls()) {
    if (call.channel != kSelectionChannelName || call.method != "updateSelection")
      continue;
    const auto* text = std::get_if<std::string>(&call.arguments);
    texts.push_back(text ? *text : "<not a string>");
  }
  return texts;
}

std::vector<platform::sim::HotKeyChord> HostTest::registeredChords() {
  std::vector<platform::sim::HotKeyChord> chords;
  for (const auto& r : desktop.hotKeys().registrations())
    chords.push_back(r.chord);
  return chords;
}

std::vector<std::string> HostTest::loginServiceChanges() {
  std::vector<std::string> out;
  for (const auto& call : desktop.loginItems().service().calls()) {
    if (call.operation != "status")
      out.push_back(call.operation);
  }
  return out;
}

std::vector<std::string> HostTest::postedChords() {
  std::vector<std::string> out;
  for (const auto& e : desktop.keyboardEvents().posted()) {
    std::string key = e.keyCode == platform::kVK_ANSI_C   ? "C"
                      : e.keyCode == platform::kVK_ANSI_V ? "V"
                                                          : std::to_string(e.keyCode);
    out.push_back(key + (e.keyDown ? " down -> " : " up -> ") +
                  (e.pid ? std::to_string(*e.pid) : std::string("hid")));
  }
  return out;
}

EncodableValue hotKeyArgs(std::int64_t keyCode, std::int64_t modifiers) {
  return EncodableValue(EncodableMap{{EncodableValue("keyCode"), EncodableValue(keyCode)},
                                     {EncodableValue("modifiers"), EncodableValue(modifiers)}});
}

}  // namespace lumivane::test_support
