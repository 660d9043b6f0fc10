#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::TraceEvent;
using platform::sim::TraceKind;
using test_support::HostTest;

using StartupTest = HostTest;

// What the desktop saw, in order, with what the host had built at each step:
// the interface and its plug-ins before the panel, the panel before the status
// item, the channels and the record of the front application before the hot
// key, and the embedding told only once the panel is on screen.
TEST_F(StartupTest, BringsTheSubsystemsUpInOrder) {
  std::vector<std::string> steps;
  desktop.setTraceListener([&](const TraceEvent& e) {
    switch (e.kind) {
      case TraceKind::viewControllerCreated:
        steps.push_back("view controller");
        break;
      case TraceKind::pluginRegistered:
        steps.push_back("plugin " + e.field("plugin").value_or("?"));
        break;
      case TraceKind::windowCreated:
        steps.push_back(e.field("kind").value_or("?"));
        break;
      case TraceKind::statusItemCreated:
        steps.push_back(host().systemChannel ? "status item after channels" : "status item");
        break;
      case TraceKind::observerAdded:
        steps.push_back(host().selectionChannel && host().systemChannel
                            ? "activation observer"
                            : "activation observer before the channels");
        break;
      case TraceKind::hotKeyRegistered:
        steps.push_back(host().selectionChannel && host().systemChannel &&
                                host().lastActiveApplication() == editor &&
                                desktop.hotKeys().handlers().size() == 1
                            ? "hot key"
                            : "hot key too early");
        break;
      case TraceKind::windowShown:
        steps.push_back(desktop.flutter().launchNotifications().empty() ? "shown"
                                                                        : "shown after launch");
        break;
      default:
        break;
    }
  });
  launch();
  EXPECT_EQ(steps, (std::vector<std::string>{
                       "window", "view controller", "plugin DeviceInfoPlusMacosPlugin",
                       "plugin FlutterSecureStorageDarwinPlugin", "plugin FPPPackageInfoPlusPlugin",
                       "plugin PathProviderPlugin", "plugin UrlLauncherPlugin", "panel",
                       "status item", "activation observer", "hot key", "shown"}));
  ASSERT_EQ(desktop.flutter().launchNotifications().size(), 1u);
  EXPECT_EQ(desktop.flutter().launchNotifications()[0].name,
            platform::NSApplicationDidFinishLaunchingNotification);
}

// Without an interface the host stays out of sight entirely.
TEST_F(StartupTest, WithoutAViewControllerNothingElseStarts) {
  desktop.flutter().setEngineCanStart(false);
  launch();
  EXPECT_FALSE(host().viewController());
  ASSERT_TRUE(panel());
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(desktop.statusBar().statusItems().empty());
  EXPECT_FALSE(host().selectionChannel);
  EXPECT_FALSE(host().systemChannel);
  EXPECT_TRUE(desktop.hotKeys().handlers().empty());
  EXPECT_TRUE(desktop.hotKeys().registrations().empty());
  EXPECT_TRUE(desktop.flutter().launchNotifications().empty());
  // No activation observer either: later activations go unrecorded.
  frontApp("Notes", 202);
  EXPECT_FALSE(host().lastActiveApplication());
}

using LifecycleTest = HostTest;

TEST_F(LifecycleTest, ClosingThePanelLeavesTheHostRunningInTheMenuBar) {
  launch();
  ASSERT_TRUE(panel()->userClickCloseButton());
  desktop.runUntilIdle();
  EXPECT_FALSE(desktop.application().isTerminating());
  EXPECT_EQ(desktop.statusBar().statusItems().size(), 1u);
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.1);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_EQ(desktop.application().supportsSecureRestorableState(), true);
}

TEST_F(LifecycleTest, ReopenShowsTheClosedPanelAgainAndAnswersYes) {
  launch();
  const auto centred = panel()->frame();
  panel()->userMove({12, 34});
  ASSERT_TRUE(panel()->userClickCloseButton());
  desktop.bringToFront(editor);
  desktop.runUntilIdle();
  ASSERT_FALSE(desktop.application().isActive());

  EXPECT_EQ(desktop.application().reopen(), true);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(panel()->key());
  EXPECT_EQ(panel()->frame(), centred);
  EXPECT_TRUE(desktop.application().isActive());
}

TEST_F(LifecycleTest, ReopenBeforeThereIsAPanelAnswersYesAndShowsNothing) {
  ui = loadMainInterface(desktop);
  EXPECT_EQ(desktop.application().reopen(), true);
  EXPECT_FALSE(desktop.windows().anyVisible());
  EXPECT_FALSE(host().panel());
}

}  // namespace
}  // namespace lumivane
