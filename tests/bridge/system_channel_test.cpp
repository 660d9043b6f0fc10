#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;
using platform::PeerReply;
using platform::sim::HotKeyChord;
using platform::sim::LoginRegistrationBehaviour;
using test_support::HostTest;
using test_support::hotKeyArgs;

using SystemChannelTest = HostTest;

void expectError(const PeerReply& reply, const std::string& code, const std::string& message) {
  EXPECT_EQ(reply.kind, PeerReply::Kind::error);
  EXPECT_EQ(reply.code, code);
  EXPECT_EQ(reply.message, message);
  EXPECT_EQ(reply.details, EncodableValue());
}

void expectNull(const PeerReply& reply) {
  EXPECT_EQ(reply.kind, PeerReply::Kind::success);
  EXPECT_EQ(reply.value, EncodableValue());
}

TEST_F(SystemChannelTest, LaunchAtLoginSwitchesAndReadsBack) {
  launch();
  expectNull(callSystem("setLaunchAtLogin", EncodableValue(true)));
  EXPECT_EQ(callSystem("getLaunchAtLogin").value, EncodableValue(true));
  expectNull(callSystem("setLaunchAtLogin", EncodableValue(false)));
  EXPECT_EQ(callSystem("getLaunchAtLogin", EncodableValue("ignored")).value, EncodableValue(false));
  EXPECT_EQ(desktop.standardOutput().text(), "");
}

// The interface's switch must not show a state the platform refused.
TEST_F(SystemChannelTest, ARefusedLoginItemChangeIsReportedAndPrinted) {
  launch();
  desktop.loginItems().service().setRegistrationBehaviour(LoginRegistrationBehaviour::refuses,
                                                          "Denied by policy");
  expectError(callSystem("setLaunchAtLogin", EncodableValue(true)), "LAUNCH_AT_LOGIN_FAILED",
              "Denied by policy");
  EXPECT_EQ(desktop.standardOutput().lines(),
            std::vector<std::string>{"Failed to update launch at login: Denied by policy"});
  EXPECT_EQ(callSystem("getLaunchAtLogin").value, EncodableValue(false));
}

TEST_F(SystemChannelTest, SetLaunchAtLoginNeedsABoolean) {
  launch();
  for (const auto& args : std::vector<std::optional<EncodableValue>>{
           std::nullopt, EncodableValue("true"), EncodableValue(1),
           EncodableValue(EncodableMap{{EncodableValue("enabled"), EncodableValue(true)}})}) {
    expectError(callSystem("setLaunchAtLogin", args), "INVALID_ARGUMENT",
                "Boolean argument required");
  }
  EXPECT_TRUE(loginServiceChanges().empty());
}

TEST_F(SystemChannelTest, SetGlobalHotKeyReplacesTheChord) {
  launch();
  expectNull(callSystem("setGlobalHotKey", hotKeyArgs(49, 0x900)));
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{49, 0x900}}));
  // As the interface sends small integers: 32-bit on the wire, with an extra
  // key that is ignored. 17 with 768 is the default chord again.
  expectNull(callSystem(
      "setGlobalHotKey",
      EncodableValue(EncodableMap{{EncodableValue("keyCode"), EncodableValue(std::int32_t{17})},
                                  {EncodableValue("modifiers"), EncodableValue(std::int32_t{768})},
                                  {EncodableValue("label"), EncodableValue("⌘⇧T")}})));
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{17, 0x300}}));
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.1);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
}

TEST_F(SystemChannelTest, TheWholeUnsigned32BitRangeIsPassedOn) {
  launch();
  expectNull(callSystem("setGlobalHotKey", hotKeyArgs(4294967295, 4294967295)));
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{0xFFFFFFFF, 0xFFFFFFFF}}));
  expectNull(callSystem("setGlobalHotKey", hotKeyArgs(0, 0)));
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{0, 0}}));
}

TEST_F(SystemChannelTest, ARefusedHotKeyIsReportedAndThePreviousOneKept) {
  launch();
  desktop.hotKeys().takeHotKey(49, 0x100);
  expectError(callSystem("setGlobalHotKey", hotKeyArgs(49, 0x100)), "HOTKEY_UNAVAILABLE",
              "Hot key could not be registered");
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{17, 0x300}}));
}

// Bad arguments never reach the registration: the current hot key stays.
TEST_F(SystemChannelTest, BadHotKeyArgumentsLeaveTheCurrentHotKeyAlone) {
  launch();
  auto map = [](std::vector<std::pair<EncodableValue, EncodableValue>> entries) {
    return EncodableValue(EncodableMap(entries.begin(), entries.end()));
  };
  const EncodableValue keyCode("keyCode");
  const EncodableValue modifiers("modifiers");
  const std::vector<std::optional<EncodableValue>> bad = {
      std::nullopt,
      EncodableValue("17"),
      EncodableValue(std::int32_t{17}),
      map({{keyCode, EncodableValue("17")}, {modifiers, EncodableValue(768)}}),
      map({{keyCode, EncodableValue(17)}}),
      map({{modifiers, EncodableValue(768)}}),
      map({{keyCode, EncodableValue(17.0)}, {modifiers, EncodableValue(768)}}),
      map({{keyCode, EncodableValue(true)}, {modifiers, EncodableValue(768)}}),
      map({{keyCode, EncodableValue()}, {modifiers, EncodableValue(768)}}),
      hotKeyArgs(-1, 768),
      hotKeyArgs(17, -768),
      hotKeyArgs(4294967296, 768),
      hotKeyArgs(17, std::int64_t{1} << 40),
      map({{keyCode, EncodableValue(17)},
           {modifiers, EncodableValue(768)},
           {EncodableValue(1), EncodableValue(2)}}),
  };
  for (std::size_t i = 0; i < bad.size(); ++i) {
    SCOPED_TRACE(i);
    expectError(callSystem("setGlobalHotKey", bad[i]), "INVALID_ARGUMENT",
                "keyCode and modifiers required");
  }
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{17, 0x300}}));
}

// Once the delegate is gone while the interface still runs, valid requests get
// their fixed answers and change nothing; bad arguments are still reported.
TEST_F(SystemChannelTest, AfterTheDelegateIsReleasedAnswersAreFixed) {
  launch();
  const auto interface = host().viewController();
  releaseDelegate();
  expectNull(callSystem("setLaunchAtLogin", EncodableValue(true)));
  EXPECT_TRUE(loginServiceChanges().empty());
  EXPECT_EQ(callSystem("getLaunchAtLogin").value, EncodableValue(false));
  expectNull(callSystem("setGlobalHotKey", hotKeyArgs(49, 0x900)));
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{17, 0x300}}));
  expectError(callSystem("setLaunchAtLogin", EncodableValue("yes")), "INVALID_ARGUMENT",
              "Boolean argument required");
  expectError(callSystem("setGlobalHotKey", hotKeyArgs(-1, 0)), "INVALID_ARGUMENT",
              "keyCode and modifiers required");
}

TEST_F(SystemChannelTest, OtherNamesAreNotImplemented) {
  launch();
  for (const char* method : {"getlaunchatlogin", "SetGlobalHotKey", "setLaunchAtLogin ", "",
                             "getSelection", "updateSelection"}) {
    SCOPED_TRACE(method);
    EXPECT_EQ(callSystem(method, EncodableValue(true)).kind, PeerReply::Kind::notImplemented);
  }
  EXPECT_TRUE(loginServiceChanges().empty());
}

}  // namespace
}  // namespace lumivane
