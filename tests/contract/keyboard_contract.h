#pragma once

// What every backend's synthetic keys promise the host, written against the
// seam alone and run against each backend through a harness.
//
// A keyboard-events harness `H` offers:
//   platform::KeyboardEvents& events();
//   // Starts an application that records the keys it receives, with a window
//   // of its own; its process id once it can receive keys.
//   platform::pid_t launchRecorder(const std::string& name);
//   void bringToFront(platform::pid_t pid);          // as the user would
//   std::vector<ReceivedKey> received(platform::pid_t pid);
//   // The user holds (or lets go of) these modifier keys.
//   void holdModifiers(platform::CGEventFlags flags);
//   bool runUntil(const std::function<bool()>& done, double seconds);
//   void runFor(double seconds);

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "platform/keyboard_events.h"

namespace lumivane::contract {

// A key event as an application received it, in the host's terms.
struct ReceivedKey {
  platform::CGKeyCode keyCode = 0;
  bool down = false;
  platform::CGEventFlags flags = 0;
  friend bool operator==(const ReceivedKey&, const ReceivedKey&) = default;
};

inline std::ostream& operator<<(std::ostream& out, const ReceivedKey& key) {
  return out << "key " << key.keyCode << (key.down ? " down" : " up") << " flags 0x" << std::hex
             << key.flags << std::dec;
}

template <class H>
class KeyboardEventsContract : public ::testing::Test {
 protected:
  platform::KeyboardEvents& events() { return harness.events(); }

  // Builds a chord's two events with exactly `flags` and posts each through
  // `post`, releasing everything it made.
  void postChord(platform::CGKeyCode key,
                 platform::CGEventFlags flags,
                 const std::function<void(platform::CGEventRef)>& post) {
    auto& ev = events();
    auto source = ev.CGEventSourceCreate(platform::CGEventSourceStateID::hidSystemState);
    auto down = ev.CGEventCreateKeyboardEvent(source, key, true);
    auto up = ev.CGEventCreateKeyboardEvent(source, key, false);
    ASSERT_TRUE(down && up);
    ev.CGEventSetFlags(down, flags);
    ev.CGEventSetFlags(up, flags);
    post(down);
    post(up);
    ev.CFRelease(down);
    ev.CFRelease(up);
    ev.CFRelease(source);
  }

  H harness;
};

TYPED_TEST_SUITE_P(KeyboardEventsContract);

// Sent to one process, a chord reaches that process and no other, with
// exactly the flags set: a modifier the user still holds must not turn
// Command+C into another shortcut.
TYPED_TEST_P(KeyboardEventsContract, AChordReachesTheProcessItWasPostedToWithExactlyItsFlags) {
  auto& h = this->harness;
  const auto front = h.launchRecorder("front");
  const auto target = h.launchRecorder("target");
  h.bringToFront(front);
  h.holdModifiers(platform::kCGEventFlagMaskShift);
  this->postChord(platform::kVK_ANSI_C, platform::kCGEventFlagMaskCommand,
                  [&](platform::CGEventRef e) { this->events().CGEventPostToPid(target, e); });
  h.holdModifiers(0);
  ASSERT_TRUE(h.runUntil([&] { return h.received(target).size() >= 2; }, 20));
  h.runFor(0.2);
  EXPECT_EQ(
      h.received(target),
      (std::vector<ReceivedKey>{{platform::kVK_ANSI_C, true, platform::kCGEventFlagMaskCommand},
                                {platform::kVK_ANSI_C, false, platform::kCGEventFlagMaskCommand}}));
  EXPECT_TRUE(h.received(front).empty());
}

// Posted at the hardware tap, a chord reaches the application in front.
TYPED_TEST_P(KeyboardEventsContract, AChordAtTheHardwareTapReachesTheFrontApplication) {
  auto& h = this->harness;
  const auto behind = h.launchRecorder("behind");
  const auto front = h.launchRecorder("front");
  h.bringToFront(front);
  this->postChord(platform::kVK_ANSI_V, platform::kCGEventFlagMaskCommand,
                  [&](platform::CGEventRef e) {
                    this->events().CGEventPost(platform::CGEventTapLocation::hidEventTap, e);
                  });
  ASSERT_TRUE(h.runUntil([&] { return h.received(front).size() >= 2; }, 20));
  EXPECT_EQ(h.received(front)[0],
            (ReceivedKey{platform::kVK_ANSI_V, true, platform::kCGEventFlagMaskCommand}));
  h.runFor(0.2);
  EXPECT_TRUE(h.received(behind).empty());
}

// A chord for a process that has no window to receive it goes nowhere.
TYPED_TEST_P(KeyboardEventsContract, AChordForAProcessWithoutAWindowGoesNowhere) {
  auto& h = this->harness;
  const auto front = h.launchRecorder("front");
  h.bringToFront(front);
  this->postChord(platform::kVK_ANSI_C, platform::kCGEventFlagMaskCommand,
                  [&](platform::CGEventRef e) { this->events().CGEventPostToPid(999999, e); });
  h.runFor(0.3);
  EXPECT_TRUE(h.received(front).empty());
}

REGISTER_TYPED_TEST_SUITE_P(KeyboardEventsContract,
                            AChordReachesTheProcessItWasPostedToWithExactlyItsFlags,
                            AChordAtTheHardwareTapReachesTheFrontApplication,
                            AChordForAProcessWithoutAWindowGoesNowhere);

}  // namespace lumivane::contract
