#include <gtest/gtest.h>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using test_support::HostTest;

using StartupTest = HostTest;

// Without an interface the host stays out of sight: nothing on screen, no
// status item, no hot key, and the embedding is not told of the launch.
TEST_F(StartupTest, WithoutAnInterfaceNothingElseStarts) {
  desktop.flutter().setEngineCanStart(false);
  launch();
  EXPECT_FALSE(desktop.windows().anyVisible());
  EXPECT_TRUE(desktop.statusBar().statusItems().empty());
  EXPECT_TRUE(desktop.hotKeys().registrations().empty());
  EXPECT_TRUE(desktop.flutter().launchNotifications().empty());
}

using LifecycleTest = HostTest;

// The host lives in the menu bar: closing its panel does not end it.
TEST_F(LifecycleTest, ClosingThePanelLeavesTheHostRunning) {
  launch();
  ASSERT_TRUE(panel()->userClickCloseButton());
  EXPECT_FALSE(desktop.application().isTerminating());
}

TEST_F(LifecycleTest, ReopenBeforeThereIsAPanelAnswersYesAndShowsNothing) {
  ui = loadMainInterface(desktop);
  EXPECT_EQ(desktop.application().reopen(), true);
  EXPECT_FALSE(desktop.windows().anyVisible());
}

}  // namespace
}  // namespace lumivane
