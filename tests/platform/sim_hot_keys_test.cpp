#include <gtest/gtest.h>

#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::SimDesktopTest;

constexpr std::uint32_t kT = kVK_ANSI_T;
constexpr std::uint32_t kCmdShift = cmdKey | shiftKey;
constexpr EventHotKeyID kId{fourCharCode("QMHK"), 1};

struct Calls {
  std::vector<void*> userData;
  OSStatus answer = noErr;
};

OSStatus recordCall(EventHandlerCallRef callRef, EventRef event, void* userData) {
  EXPECT_NE(callRef, nullptr);
  EXPECT_NE(event, nullptr);
  auto* calls = static_cast<Calls*>(userData);
  calls->userData.push_back(userData);
  return calls->answer;
}

class SimHotKeysTest : public SimDesktopTest {
 protected:
  OSStatus registerChord(std::uint32_t key, std::uint32_t modifiers, EventHotKeyRef* ref) {
    return hotKeys.RegisterEventHotKey(key, modifiers, kId, hotKeys.GetApplicationEventTarget(), 0,
                                       ref);
  }
  SimHotKeys& hotKeys = desktop.hotKeys();
};

// A chord another application holds is the hot-keys contract's; one this
// application holds already is refused too, and one let go can be had.
TEST_F(SimHotKeysTest, ChordsAlreadyHeldAreRefusedWithANullRef) {
  hotKeys.takeHotKey(kT, kCmdShift);
  EventHotKeyRef ref = nullptr;
  // The same key with other modifiers is another chord.
  EventHotKeyRef first = nullptr;
  ASSERT_EQ(registerChord(kT, cmdKey | optionKey, &first), noErr);
  EXPECT_NE(first, nullptr);
  EventHotKeyRef second = reinterpret_cast<EventHotKeyRef>(&second);  // garbage to be cleared
  EXPECT_EQ(registerChord(kT, cmdKey | optionKey, &second), eventHotKeyExistsErr);
  EXPECT_EQ(second, nullptr);
  ASSERT_EQ(hotKeys.registrations().size(), 1u);
  EXPECT_EQ(hotKeys.registrations()[0].id.signature, fourCharCode("QMHK"));

  hotKeys.releaseHotKey(kT, kCmdShift);
  EXPECT_EQ(registerChord(kT, kCmdShift, &ref), noErr);
}

TEST_F(SimHotKeysTest, UnregisteringUnknownOrStaleRefsFails) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(kT, kCmdShift, &ref), noErr);
  EXPECT_EQ(hotKeys.UnregisterEventHotKey(nullptr), eventHotKeyInvalidErr);
  EXPECT_EQ(hotKeys.UnregisterEventHotKey(ref), noErr);
  EXPECT_EQ(hotKeys.UnregisterEventHotKey(ref), eventHotKeyInvalidErr);
  EXPECT_TRUE(hotKeys.registrations().empty());
  // Once given up, the chord can be had again.
  EXPECT_EQ(registerChord(kT, kCmdShift, &ref), noErr);
}

// Presses arrive on the main thread, later than the press itself, and only
// at handlers listening for hot-key presses.
TEST_F(SimHotKeysTest, PressesReachMatchingHandlersOnlyForRegisteredChords) {
  Calls pressed;
  Calls released;
  pressed.answer = -1;
  const EventTypeSpec pressSpec{kEventClassKeyboard, kEventHotKeyPressed};
  const EventTypeSpec releaseSpec{kEventClassKeyboard, kEventHotKeyReleased};
  ASSERT_EQ(hotKeys.InstallEventHandler(hotKeys.GetApplicationEventTarget(), recordCall, 1,
                                        &pressSpec, &pressed, nullptr),
            noErr);
  ASSERT_EQ(hotKeys.InstallEventHandler(hotKeys.GetApplicationEventTarget(), recordCall, 1,
                                        &releaseSpec, &released, nullptr),
            noErr);
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(kT, kCmdShift, &ref), noErr);

  hotKeys.pressKey(kT, cmdKey);  // not the registered chord
  hotKeys.pressKey(kT, kCmdShift);
  EXPECT_TRUE(pressed.userData.empty());
  desktop.runUntilIdle();

  EXPECT_EQ(pressed.userData, std::vector<void*>{&pressed});
  EXPECT_TRUE(released.userData.empty());
  const auto presses = hotKeys.presses();
  ASSERT_EQ(presses.size(), 2u);
  EXPECT_FALSE(presses[0].delivered);
  EXPECT_TRUE(presses[1].delivered);
  EXPECT_EQ(presses[1].handlerResults, std::vector<OSStatus>{-1});
}

}  // namespace
}  // namespace lumivane::platform::sim
