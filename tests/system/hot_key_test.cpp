#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::HotKeyChord;
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

// A changed chord captures and the old one no longer does; setting the
// current chord again keeps it working.
TEST_F(GlobalHotKeyTest, AChangedChordCapturesInsteadOfTheOldOne) {
  launchHidden();
  ASSERT_EQ(host().updateGlobalHotKey(49, 0x900), platform::noErr);
  press(17, 0x300);
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_EQ(host().updateGlobalHotKey(49, 0x900), platform::noErr);
  press(49, 0x900);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(postedChords(), oneCopy);
}

TEST_F(GlobalHotKeyTest, RefusedChordLeavesThePreviousOneInForce) {
  launchHidden();
  ASSERT_EQ(host().updateGlobalHotKey(49, 0x900), platform::noErr);
  desktop.hotKeys().takeHotKey(50, platform::cmdKey);
  EXPECT_NE(host().updateGlobalHotKey(50, platform::cmdKey), platform::noErr);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{49, 0x900}}));
  press(50, platform::cmdKey);
  EXPECT_TRUE(postedChords().empty());
  press(49, 0x900);
  EXPECT_EQ(postedChords(), oneCopy);
}

// Another application holds the default: the host starts without a hot key,
// a refused change leaves it without one (the default was never in force, so
// a refusal does not fall back to it), and a free chord takes.
TEST_F(GlobalHotKeyTest, WithoutAHotKeyOnlyASuccessfulChangeRegistersOne) {
  desktop.hotKeys().takeHotKey(17, 0x300);
  launch();
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(registeredChords().empty());
  desktop.hotKeys().releaseHotKey(17, 0x300);
  desktop.hotKeys().takeHotKey(49, platform::cmdKey);
  EXPECT_NE(host().updateGlobalHotKey(49, platform::cmdKey), platform::noErr);
  EXPECT_TRUE(registeredChords().empty());
  EXPECT_EQ(host().updateGlobalHotKey(49, platform::controlKey), platform::noErr);
  EXPECT_EQ(registeredChords(), (std::vector<HotKeyChord>{{49, 0x1000}}));
}

// A press reaches the host only through a live AppDelegate: not once it is
// released, and not when another delegate has taken its place.
TEST_F(GlobalHotKeyTest, PressesReachOnlyALiveAppDelegate) {
  launchHidden();
  releaseDelegate();
  press(17, 0x300);
  auto stranger = std::make_shared<RecordingDelegate>();
  desktop.application().setDelegate(stranger);
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
  auto otherEditor = other.addApplication({"Other editor", "com.example.other", 301, "other"});
  other.bringToFront(otherEditor);
  other.runUntilIdle();
  {
    auto otherUi = loadMainInterface(other);
    other.application().run();
    other.hotKeys().pressKey(17, 0x300);
    other.advance(1.5);
    desktop.advance(1.5);
    EXPECT_TRUE(postedChords().empty());
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
