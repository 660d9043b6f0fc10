#pragma once

// What every backend's workspace promises the host, written against the seam
// alone and run against each backend through a harness.
//
// A workspace harness `H` offers:
//   platform::Workspace& workspace();
//   // Starts an application with a window; its process id once it shows.
//   platform::pid_t launch(const std::string& name);
//   void bringToFront(platform::pid_t pid);   // as the user would
//   void quit(platform::pid_t pid);           // it exits
//   bool runUntil(const std::function<bool()>& done, double seconds);
//   void runFor(double seconds);
// Destroying the harness announces nothing more before anything else it does
// (the cases' observers hold references to what their bodies held).

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "platform/workspace.h"

namespace lumivane::contract {

template <class H>
class WorkspaceContract : public ::testing::Test {
 protected:
  std::optional<platform::pid_t> frontPid() {
    auto front = harness.workspace().frontmostApplication();
    return front ? std::optional<platform::pid_t>(front->processIdentifier()) : std::nullopt;
  }
  H harness;
};

TYPED_TEST_SUITE_P(WorkspaceContract);

// The front application is the one the user brought forward, and every
// change of application is announced once, on the main thread, with it.
TYPED_TEST_P(WorkspaceContract, TheFrontApplicationAndEachActivationAreTold) {
  auto& h = this->harness;
  std::vector<platform::pid_t> announced;
  std::vector<std::optional<std::string>> bundles;
  h.workspace().notificationCenter().addObserver(
      platform::NSWorkspaceDidActivateApplicationNotification,
      [&](const platform::Notification& n) {
        ASSERT_TRUE(n.userInfo);
        auto it = n.userInfo->find(platform::NSWorkspaceApplicationKey);
        ASSERT_NE(it, n.userInfo->end());
        const auto* app = std::get_if<std::shared_ptr<platform::RunningApplication>>(&it->second);
        ASSERT_TRUE(app && *app);
        announced.push_back((*app)->processIdentifier());
        bundles.push_back((*app)->bundleIdentifier());
      });
  const auto first = h.launch("first");
  const auto second = h.launch("second");
  h.bringToFront(first);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == first; }, 20));
  h.runFor(0.2);
  announced.clear();
  bundles.clear();

  h.bringToFront(second);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == second; }, 20));
  h.bringToFront(first);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == first; }, 20));
  ASSERT_TRUE(h.runUntil([&] { return announced.size() >= 2; }, 20));
  h.runFor(0.2);
  EXPECT_EQ(announced, (std::vector<platform::pid_t>{second, first}));
  for (const auto& bundle : bundles)
    EXPECT_TRUE(bundle && !bundle->empty());
}

// Activating an application brings it forward; one that has quit cannot be.
TYPED_TEST_P(WorkspaceContract, ActivateBringsAnApplicationForwardUnlessItQuit) {
  auto& h = this->harness;
  const auto first = h.launch("first");
  const auto second = h.launch("second");
  h.bringToFront(second);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == second; }, 20));
  h.bringToFront(first);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == first; }, 20));

  auto handle = h.workspace().frontmostApplication();
  ASSERT_TRUE(handle);
  h.bringToFront(second);
  ASSERT_TRUE(h.runUntil([&] { return this->frontPid() == second; }, 20));
  EXPECT_TRUE(handle->activateWithOptions(platform::NSApplicationActivateIgnoringOtherApps));
  EXPECT_TRUE(h.runUntil([&] { return this->frontPid() == first; }, 20));

  h.quit(first);
  EXPECT_TRUE(h.runUntil(
      [&] {
        return !handle->activateWithOptions(platform::NSApplicationActivateIgnoringOtherApps);
      },
      20));
  EXPECT_EQ(handle->processIdentifier(), first) << "a handle keeps its pid after the exit";
}

REGISTER_TYPED_TEST_SUITE_P(WorkspaceContract,
                            TheFrontApplicationAndEachActivationAreTold,
                            ActivateBringsAnApplicationForwardUnlessItQuit);

}  // namespace lumivane::contract
