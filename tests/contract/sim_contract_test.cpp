// Every contract suite, run against the simulated desktop (and the dispatch
// suite also against the real-thread dispatch).
#include <map>
#include <memory>

#include "platform/sim/sim_desktop.h"
#include "platform/threads/threaded_dispatch.h"
#include "tests/contract/dispatch_contract.h"
#include "tests/contract/hot_keys_contract.h"
#include "tests/contract/keyboard_contract.h"
#include "tests/contract/login_items_contract.h"
#include "tests/contract/pasteboard_contract.h"
#include "tests/contract/workspace_contract.h"

namespace lumivane::contract {
namespace {

using platform::sim::SimDesktop;

// Runs the virtual clock in small steps until `done` or `seconds` pass.
bool advanceUntil(SimDesktop& desktop, const std::function<bool()>& done, double seconds) {
  for (double waited = 0; !done(); waited += 0.001) {
    if (waited >= seconds)
      return false;
    desktop.advance(0.001);
  }
  return true;
}

// Applications by pid, for the harnesses that start them.
class SimApplications {
 public:
  explicit SimApplications(SimDesktop& desktop) : desktop_(desktop) {}
  platform::pid_t launch(const std::string& name) {
    const platform::pid_t pid = next_++;
    apps_[pid] = desktop_.addApplication({name, "com.example." + name, pid});
    return pid;
  }
  void bringToFront(platform::pid_t pid) { desktop_.bringToFront(apps_.at(pid)); }
  void quit(platform::pid_t pid) { desktop_.quit(apps_.at(pid)); }

 private:
  SimDesktop& desktop_;
  std::map<platform::pid_t, std::shared_ptr<platform::sim::SimRunningApplication>> apps_;
  platform::pid_t next_ = 401;
};

class SimPasteboardHarness {
 public:
  static constexpr bool kHoldsSeveralItems = true;
  static constexpr bool kCanLoseItemList = true;
  static constexpr bool kRefusesWritesOverAnotherProcess = true;

  platform::Pasteboard& pasteboard() { return desktop_.generalPasteboard(); }
  void writeFromAnotherProcess(const std::vector<ContractItem>& items) {
    std::vector<platform::sim::SimPasteboardItemContents> contents;
    for (const auto& item : items) {
      platform::sim::SimPasteboardItemContents entries;
      for (const auto& [type, data] : item)
        entries.push_back({type, data});
      contents.push_back(std::move(entries));
    }
    desktop_.generalPasteboard().setContents(std::move(contents));
  }
  std::optional<platform::Bytes> readFromAnotherProcess(const std::string& type) {
    for (const auto& item : desktop_.generalPasteboard().contents()) {
      for (const auto& entry : item) {
        if (entry.type == type)
          return entry.data;
      }
    }
    return std::nullopt;
  }
  void loseItemList() { desktop_.generalPasteboard().setReportsNoItemList(true); }

 private:
  SimDesktop desktop_;
};

class SimDispatchHarness {
 public:
  platform::Dispatch& dispatch() { return desktop_.dispatch(); }
  void runFor(double seconds) { desktop_.advance(seconds); }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    return advanceUntil(desktop_, done, seconds);
  }

 private:
  SimDesktop desktop_;
};

// The real-thread dispatch: the test's thread runs its main loop.
class ThreadedDispatchHarness {
 public:
  platform::Dispatch& dispatch() { return dispatch_; }
  void runFor(double seconds) {
    const double until = dispatch_.now() + seconds;
    while (dispatch_.now() < until)
      dispatch_.runMainLoopUntilIdle(until - dispatch_.now());
  }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    const double until = dispatch_.now() + seconds;
    while (!done()) {
      if (dispatch_.now() >= until)
        return false;
      dispatch_.runMainLoopUntilIdle(0.005);
    }
    return true;
  }

 private:
  platform::ThreadedDispatch dispatch_;
};

class SimKeyboardHarness {
 public:
  SimKeyboardHarness() { desktop_.accessibility().setTrusted(true); }
  platform::KeyboardEvents& events() { return desktop_.keyboardEvents(); }
  platform::pid_t launchRecorder(const std::string& name) { return apps_.launch(name); }
  void bringToFront(platform::pid_t pid) {
    apps_.bringToFront(pid);
    desktop_.runUntilIdle();
  }
  std::vector<ReceivedKey> received(platform::pid_t pid) {
    std::vector<ReceivedKey> keys;
    for (const auto& event : desktop_.keyboardEvents().posted()) {
      if (event.deliveredTo == pid)
        keys.push_back({event.keyCode, event.keyDown, event.flags});
    }
    return keys;
  }
  void holdModifiers(platform::CGEventFlags flags) {
    desktop_.keyboardEvents().setHeldModifiers(flags);
  }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    return advanceUntil(desktop_, done, seconds);
  }
  void runFor(double seconds) { desktop_.advance(seconds); }

 private:
  SimDesktop desktop_;
  SimApplications apps_{desktop_};
};

class SimHotKeysHarness {
 public:
  platform::HotKeys& hotKeys() { return desktop_.hotKeys(); }
  void press(std::uint32_t keyCode, std::uint32_t modifiers) {
    desktop_.hotKeys().pressKey(keyCode, modifiers);
  }
  void holdElsewhere(std::uint32_t keyCode, std::uint32_t modifiers) {
    desktop_.hotKeys().takeHotKey(keyCode, modifiers);
  }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    return advanceUntil(desktop_, done, seconds);
  }
  void runFor(double seconds) { desktop_.advance(seconds); }

 private:
  SimDesktop desktop_;
};

class SimWorkspaceHarness {
 public:
  platform::Workspace& workspace() { return desktop_.workspace(); }
  platform::pid_t launch(const std::string& name) { return apps_.launch(name); }
  void bringToFront(platform::pid_t pid) { apps_.bringToFront(pid); }
  void quit(platform::pid_t pid) { apps_.quit(pid); }
  bool runUntil(const std::function<bool()>& done, double seconds) {
    return advanceUntil(desktop_, done, seconds);
  }
  void runFor(double seconds) { desktop_.advance(seconds); }

 private:
  SimDesktop desktop_;
  SimApplications apps_{desktop_};
};

class SimLoginItemsHarness {
 public:
  static constexpr bool kCanRefuse = true;
  platform::LoginItems& loginItems() { return desktop_.loginItems(); }
  void refuseChanges() {
    desktop_.loginItems().service().setRegistrationBehaviour(
        platform::sim::LoginRegistrationBehaviour::refuses, "Operation not permitted");
  }

 private:
  SimDesktop desktop_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Sim, PasteboardContract, SimPasteboardHarness);
using DispatchHarnesses = ::testing::Types<SimDispatchHarness, ThreadedDispatchHarness>;
INSTANTIATE_TYPED_TEST_SUITE_P(SimAndThreads, DispatchContract, DispatchHarnesses);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, KeyboardEventsContract, SimKeyboardHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, HotKeysContract, SimHotKeysHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, WorkspaceContract, SimWorkspaceHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Sim, LoginItemsContract, SimLoginItemsHarness);

}  // namespace lumivane::contract
