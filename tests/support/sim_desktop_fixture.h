#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/recording_delegate.h"

namespace lumivane::test_support {

// Fails the current test for every platform object the host left alive (key
// events, event sources, pasteboard items, menus, menu items).
void expectNoLeaks(const platform::sim::SimDesktop& desktop);
// Fails the current test for every call the real platform would not have
// survived (handles released twice, main-thread objects used from a worker,
// constraints across hierarchies, APIs on too old a system).
void expectNoMisuse(const platform::sim::SimDesktop& desktop);

// A responder that runs `onAction` for the selectors it handles.
class FunctionResponder : public platform::Responder {
 public:
  FunctionResponder(std::set<std::string> selectors,
                    std::function<void(const std::string&)> onAction)
      : selectors_(std::move(selectors)), onAction_(std::move(onAction)) {}
  bool performAction(const std::string& selector) override {
    if (!selectors_.count(selector)) {
      return false;
    }
    onAction_(selector);
    return true;
  }

 private:
  std::set<std::string> selectors_;
  std::function<void(const std::string&)> onAction_;
};

// A test on a fresh simulated desktop. Release host objects before TearDown
// runs (or call the checks yourself) when a derived fixture keeps some.
class SimDesktopTest : public ::testing::Test {
 protected:
  void TearDown() override {
    if (checkOnTearDown_) {
      expectNoLeaks(desktop);
      expectNoMisuse(desktop);
    }
  }

  // An application with a selection, brought to the front, its activation
  // already delivered.
  std::shared_ptr<platform::sim::SimRunningApplication> frontApp(
      const std::string& name,
      platform::pid_t pid,
      const std::string& selection = "selected text");

  // Leaves the leak and misuse checks to the test (for tests that provoke
  // misuse on purpose).
  void skipTeardownChecks() { checkOnTearDown_ = false; }

  platform::sim::SimDesktop desktop;

 private:
  bool checkOnTearDown_ = true;
};

}  // namespace lumivane::test_support
