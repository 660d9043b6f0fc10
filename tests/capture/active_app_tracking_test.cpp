#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::EncodableValue;
using platform::Notification;
using platform::NSWorkspaceApplicationKey;
using platform::NSWorkspaceDidActivateApplicationNotification;
using platform::RunningApplication;
using platform::UserInfoValue;
using platform::sim::AppProfile;
using test_support::HostTest;

Notification activation(std::shared_ptr<RunningApplication> app) {
  return Notification{NSWorkspaceDidActivateApplicationNotification,
                      std::map<std::string, UserInfoValue>{{NSWorkspaceApplicationKey, app}}};
}

using ActiveAppTrackingTest = HostTest;

TEST_F(ActiveAppTrackingTest, HostInFrontAtLaunchLeavesNothingRecorded) {
  desktop.workspace().activateHost();
  desktop.runUntilIdle();
  launch();
  EXPECT_EQ(host().lastActiveApplication(), nullptr);
  EXPECT_EQ(host().lastActiveApplicationPid(), 0);
  // With nobody to paste into, the paste is refused.
  EXPECT_EQ(callSelection("pasteText", EncodableValue("x")).value, EncodableValue(false));
}

TEST_F(ActiveAppTrackingTest, EachActivationOfAnotherApplicationReplacesTheRecord) {
  launch();
  EXPECT_EQ(host().lastActiveApplication(), editor);
  auto mail = frontApp("Mail", 202);
  EXPECT_EQ(host().lastActiveApplication(), mail);
  EXPECT_EQ(host().lastActiveApplicationPid(), 202);
}

// The user switched applications and pressed the hot key before the switch
// was announced: the capture must still copy from the application now in
// front, so it is recorded before the panel takes the front.
TEST_F(ActiveAppTrackingTest, HotKeyBeforeTheSwitchIsAnnouncedCopiesFromTheNewFrontApplication) {
  launch();
  auto mail = desktop.addApplication(AppProfile{"Mail", "com.apple.mail", 202, "from mail"});
  desktop.workspace().setAnnouncementDelay(0.5);
  desktop.bringToFront(mail);
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.3);
  EXPECT_EQ(postedChords(), (std::vector<std::string>{"C down -> 202", "C up -> 202"}));
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"from mail"});
}

// The host is recognised by its bundle identifier alone: exactly equal, or
// both absent.
TEST_F(ActiveAppTrackingTest, BundleIdentifierDecidesWhatCountsAsTheHost) {
  struct Case {
    std::optional<std::string> hostId;
    std::optional<std::string> appId;
    bool recorded;
  };
  const Case cases[] = {
      {"com.lumivane.app", "com.lumivane.app", false},
      {std::nullopt, std::nullopt, false},
      {"com.lumivane.app", std::nullopt, true},
      {std::nullopt, "com.lumivane.app", true},
      {"com.lumivane.app", "com.Lumivane.app", true},
      {"com.lumivane.app", "com.lumivane.app.helper", true},
  };
  launch();
  platform::pid_t pid = 300;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.hostId.value_or("(none)") + " / " + c.appId.value_or("(none)"));
    desktop.setMainBundleIdentifier(c.hostId);
    host().appDidActivate(activation(editor));
    auto app = desktop.addApplication(AppProfile{"Candidate", c.appId, ++pid, "text"});
    host().appDidActivate(activation(app));
    EXPECT_EQ(host().lastActiveApplication(),
              c.recorded ? std::static_pointer_cast<RunningApplication>(app) : editor);
    EXPECT_EQ(host().lastActiveApplicationPid(), c.recorded ? pid : 201);
  }
}

TEST_F(ActiveAppTrackingTest, MalformedActivationNotificationsAreIgnored) {
  launch();
  auto& workspace = desktop.workspace();
  workspace.postNotification({NSWorkspaceDidActivateApplicationNotification, std::nullopt});
  workspace.postNotification(
      {NSWorkspaceDidActivateApplicationNotification, std::map<std::string, UserInfoValue>{}});
  workspace.postNotification(
      {NSWorkspaceDidActivateApplicationNotification,
       std::map<std::string, UserInfoValue>{{"NSWorkspaceApplication", std::string("Mail")}}});
  workspace.postNotification(
      {NSWorkspaceDidActivateApplicationNotification,
       std::map<std::string, UserInfoValue>{{NSWorkspaceApplicationKey, std::string("Mail")}}});
  workspace.postNotification(
      {NSWorkspaceDidActivateApplicationNotification,
       std::map<std::string, UserInfoValue>{{NSWorkspaceApplicationKey, std::int64_t{202}}}});
  workspace.postNotification(activation(nullptr));
  desktop.runUntilIdle();
  EXPECT_EQ(host().lastActiveApplication(), editor);
  EXPECT_EQ(host().lastActiveApplicationPid(), 201);
}

// The record is written on the main thread and read by the capture's worker.
// Real threads here, so ThreadSanitizer sees any unguarded access.
TEST_F(ActiveAppTrackingTest, RecordingAndReadingFromTwoThreadsIsSafe) {
  launch();
  auto mail = desktop.addApplication(AppProfile{"Mail", "com.example.Mail", 202, "text"});
  const Notification notifications[] = {activation(editor), activation(mail)};

  std::atomic<bool> stop{false};
  std::atomic<int> reads{0};
  std::atomic<int> wrongPids{0};
  std::thread reader([&] {
    while (!stop.load(std::memory_order_acquire)) {
      auto app = host().lastActiveApplication();
      const platform::pid_t pid = app ? app->processIdentifier() : 0;
      const platform::pid_t recordedPid = host().lastActiveApplicationPid();
      if ((pid != 201 && pid != 202) || (recordedPid != 201 && recordedPid != 202))
        ++wrongPids;
      reads.fetch_add(1, std::memory_order_relaxed);
    }
  });
  for (int i = 0; i < 20000 || reads.load(std::memory_order_relaxed) < 1000; ++i) {
    host().appDidActivate(notifications[i % 2]);
  }
  stop.store(true, std::memory_order_release);
  reader.join();
  EXPECT_EQ(wrongPids.load(), 0);
}

}  // namespace
}  // namespace lumivane
