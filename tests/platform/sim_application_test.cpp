#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::FunctionResponder;
using test_support::RecordingDelegate;
using test_support::SimDesktopTest;

class SimApplicationTest : public SimDesktopTest {
 protected:
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
};

TEST_F(SimApplicationTest, RunAnnouncesTheLaunchThenRunsTheLoop) {
  desktop.application().setDelegate(delegate);
  bool looped = false;
  desktop.application().setRunHook([&] {
    EXPECT_EQ(delegate->launches.size(), 1u);
    looped = true;
  });
  desktop.application().setExitStatus(3);
  EXPECT_EQ(desktop.application().run(), 3);
  EXPECT_TRUE(looped);
  EXPECT_EQ(delegate->launches,
            std::vector<std::string>{NSApplicationDidFinishLaunchingNotification});
  EXPECT_EQ(desktop.application().supportsSecureRestorableState(), true);
}

// NSApp holds its delegate weakly: once the owner lets go, nobody is told.
TEST_F(SimApplicationTest, AReleasedDelegateIsAbsentAndHearsNothing) {
  desktop.application().setDelegate(delegate);
  std::weak_ptr<RecordingDelegate> weak = delegate;
  delegate.reset();
  EXPECT_TRUE(weak.expired());
  EXPECT_EQ(desktop.application().delegate(), nullptr);
  EXPECT_EQ(desktop.application().run(), 0);
  EXPECT_EQ(desktop.application().reopen(), std::nullopt);
}

TEST_F(SimApplicationTest, ActionsTravelTargetThenDelegateThenApplication) {
  desktop.application().setDelegate(delegate);
  delegate->handledActions = {"fromDelegate:"};
  auto target = std::make_shared<FunctionResponder>(std::set<std::string>{"fromTarget:"},
                                                    [](const std::string&) {});
  auto& app = desktop.application();
  EXPECT_TRUE(app.sendAction("fromTarget:", target));
  EXPECT_TRUE(app.sendAction("fromDelegate:", target));
  EXPECT_FALSE(app.sendAction("unknown:", target));
  EXPECT_FALSE(app.isTerminating());
  EXPECT_TRUE(delegate->terminations.empty());
  EXPECT_TRUE(app.sendAction("terminate:", nullptr));
  EXPECT_TRUE(app.isTerminating());
  // Told once, however often the application is asked to end.
  app.terminate();
  EXPECT_EQ(delegate->terminations,
            std::vector<std::string>{NSApplicationWillTerminateNotification});
  std::vector<std::string> handledBy;
  for (const auto& sent : app.sentActions()) {
    handledBy.push_back(sent.handledBy);
  }
  EXPECT_EQ(handledBy, (std::vector<std::string>{"target", "delegate", "nobody", "application"}));
}

TEST_F(SimApplicationTest, ReopenTellsTheDelegateWhetherAWindowIsVisible) {
  desktop.application().setDelegate(delegate);
  auto panel = desktop.windows().makePanel(CGRectMake(0, 0, 600, 600), NSWindowStyleMaskTitled,
                                           BackingStoreType::buffered, false);
  EXPECT_EQ(desktop.application().reopen(), true);
  panel->orderFront();
  desktop.application().reopen();
  EXPECT_EQ(delegate->reopens, (std::vector<bool>{false, true}));
}

TEST_F(SimApplicationTest, AccessibilityPromptsOncePerProcessAndOnlyWhenUntrusted) {
  auto& ax = desktop.accessibility();
  EXPECT_FALSE(ax.AXIsProcessTrustedWithOptions({{kAXTrustedCheckOptionPrompt, false}}));
  EXPECT_TRUE(ax.promptTimes().empty());
  desktop.advance(2);
  EXPECT_FALSE(ax.AXIsProcessTrustedWithOptions({{kAXTrustedCheckOptionPrompt, true}}));
  EXPECT_FALSE(ax.AXIsProcessTrustedWithOptions({{kAXTrustedCheckOptionPrompt, true}}));
  EXPECT_EQ(ax.promptTimes(), std::vector<double>{2});
  ax.setTrusted(true);
  EXPECT_TRUE(ax.AXIsProcessTrustedWithOptions({{kAXTrustedCheckOptionPrompt, true}}));
  EXPECT_EQ(ax.queries().size(), 4u);
}

TEST_F(SimApplicationTest, LoginServiceApprovalRefusalAndUnregisteringNothing) {
  auto& service = desktop.loginItems().mainAppService();
  std::optional<NSError> error;
  desktop.loginItems().service().setRegistrationBehaviour(
      LoginRegistrationBehaviour::needsApproval);
  EXPECT_TRUE(service.registerAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::requiresApproval);
  EXPECT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
  EXPECT_FALSE(error.has_value());

  EXPECT_FALSE(service.unregisterAndReturnError(error));
  ASSERT_TRUE(error.has_value());
  EXPECT_EQ(error->localizedDescription,
            "The operation couldn’t be completed. (SMAppServiceErrorDomain error 3.)");

  error.reset();
  desktop.loginItems().service().setRegistrationBehaviour(LoginRegistrationBehaviour::refuses,
                                                          "Operation not permitted");
  EXPECT_FALSE(service.registerAndReturnError(error));
  EXPECT_EQ(error->localizedDescription, "Operation not permitted");
  EXPECT_EQ(service.status(), SMAppServiceStatus::notRegistered);
}

TEST_F(SimApplicationTest, LoginServiceOnAnOldSystemIsMisuse) {
  skipTeardownChecks();
  desktop.loginItems().setOperatingSystemVersion({12, 7, 1});
  EXPECT_FALSE(desktop.loginItems().isSupported());
  desktop.loginItems().mainAppService();
  EXPECT_EQ(desktop.misuse().size(), 1u);
}

TEST_F(SimApplicationTest, MainThreadObjectsUsedFromAWorkerAreMisuse) {
  skipTeardownChecks();
  desktop.dispatch().globalQueue(QoSClass::userInitiated).async([&] {
    desktop.workspace().frontmostApplication();
    desktop.generalPasteboard().stringForType(NSPasteboardTypeString);  // any thread
  });
  desktop.runUntilIdle();
  EXPECT_EQ(desktop.misuse(), std::vector<std::string>{
                                  "NSWorkspace frontmostApplication called off the main thread"});
}

// What a headless run prints: the user-visible effects, in timeline order.
TEST_F(SimApplicationTest, TraceReportsUserVisibleEffectsInOrder) {
  std::vector<TraceEvent> events;
  desktop.setTraceListener([&](const TraceEvent& event) { events.push_back(event); });
  desktop.accessibility().setTrusted(true);
  auto notes = desktop.addApplication(AppProfile{"Notes", "com.apple.Notes", 200, "hi", 0.1});
  desktop.bringToFront(notes);
  auto panel = desktop.windows().makePanel(CGRectMake(0, 0, 600, 600), NSWindowStyleMaskTitled,
                                           BackingStoreType::buffered, false);
  panel->setTitle("Lumivane");
  panel->makeKeyAndOrderFront();
  auto& keys = desktop.keyboardEvents();
  CGEventRef event = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  keys.CGEventSetFlags(event, kCGEventFlagMaskCommand);
  keys.CGEventPostToPid(200, event);
  keys.CFRelease(event);
  desktop.advance(0.1);
  desktop.standardOutput().write("Failed to update launch at login: x\npartial");

  std::vector<std::string> kinds;
  for (const auto& e : events) {
    kinds.push_back(toString(e.kind));
  }
  ASSERT_EQ(kinds, (std::vector<std::string>{"appActivated", "windowCreated", "windowShown",
                                             "keyEventPosted", "pasteboardChanged",
                                             "pasteboardChanged", "standardOutputLine"}));
  EXPECT_EQ(formatTraceEvent(events[0]), "0.000 appActivated pid=200 name=Notes by=user");
  EXPECT_EQ(events[2].field("title"), "Lumivane");
  EXPECT_EQ(events[3].field("to"), "pid:200");
  EXPECT_EQ(events[3].field("delivered"), "200");
  EXPECT_DOUBLE_EQ(events[4].time, 0.1);
  EXPECT_EQ(events[4].field("by"), "Notes");
  // Only complete lines are reported; the partial one waits for its break.
  EXPECT_EQ(events[6].field("line"), "Failed to update launch at login: x");
  EXPECT_EQ(desktop.standardOutput().lines(),
            std::vector<std::string>{"Failed to update launch at login: x"});
}

}  // namespace
}  // namespace lumivane::platform::sim
