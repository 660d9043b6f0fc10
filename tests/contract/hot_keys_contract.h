#pragma once

// What every backend's global hot keys promise the host, written against the
// seam alone and run against each backend through a harness.
//
// A hot-key harness `H` offers:
//   platform::HotKeys& hotKeys();
//   void press(std::uint32_t keyCode, std::uint32_t carbonModifiers);  // the user
//   void holdElsewhere(std::uint32_t keyCode, std::uint32_t carbonModifiers);
//   bool runUntil(const std::function<bool()>& done, double seconds);
//   void runFor(double seconds);

#include <gtest/gtest.h>

#include <atomic>
#include <cstdint>
#include <functional>

#include "platform/hot_keys.h"

namespace lumivane::contract {

template <class H>
class HotKeysContract : public ::testing::Test {
 protected:
  // Counts the presses delivered to the handler, through its user data.
  static platform::OSStatus countPress(platform::EventHandlerCallRef,
                                       platform::EventRef,
                                       void* userData) {
    ++*static_cast<std::atomic<int>*>(userData);
    return platform::noErr;
  }

  void install() {
    auto& hk = harness.hotKeys();
    const platform::EventTypeSpec pressed{platform::kEventClassKeyboard,
                                          platform::kEventHotKeyPressed};
    ASSERT_EQ(hk.InstallEventHandler(hk.GetApplicationEventTarget(), &countPress, 1, &pressed,
                                     &presses, nullptr),
              platform::noErr);
  }

  platform::OSStatus registerChord(std::uint32_t keyCode,
                                   std::uint32_t modifiers,
                                   platform::EventHotKeyRef* ref) {
    auto& hk = harness.hotKeys();
    return hk.RegisterEventHotKey(keyCode, modifiers, {platform::fourCharCode("TEST"), 1},
                                  hk.GetApplicationEventTarget(), 0, ref);
  }

  H harness;
  std::atomic<int> presses{0};
};

TYPED_TEST_SUITE_P(HotKeysContract);

constexpr std::uint32_t kCommandShift = platform::cmdKey | platform::shiftKey;

// Only registered chords reach the handler, once per press, until they are
// unregistered.
TYPED_TEST_P(HotKeysContract, OnlyRegisteredChordsAreDeliveredUntilUnregistered) {
  auto& h = this->harness;
  this->install();
  platform::EventHotKeyRef ref = nullptr;
  ASSERT_EQ(this->registerChord(platform::kVK_ANSI_T, kCommandShift, &ref), platform::noErr);
  ASSERT_NE(ref, nullptr);

  h.press(platform::kVK_ANSI_T, kCommandShift);
  ASSERT_TRUE(h.runUntil([&] { return this->presses.load() == 1; }, 20));
  // Fewer modifiers, more modifiers, another key: other chords.
  h.press(platform::kVK_ANSI_T, platform::cmdKey);
  h.press(platform::kVK_ANSI_T, kCommandShift | platform::optionKey);
  h.press(platform::kVK_ANSI_C, kCommandShift);
  h.runFor(0.3);
  EXPECT_EQ(this->presses.load(), 1);

  EXPECT_EQ(h.hotKeys().UnregisterEventHotKey(ref), platform::noErr);
  h.press(platform::kVK_ANSI_T, kCommandShift);
  h.runFor(0.3);
  EXPECT_EQ(this->presses.load(), 1);
}

// A chord another application holds is refused with the platform's "already
// exists" status and no registration; a free chord still registers.
TYPED_TEST_P(HotKeysContract, AChordHeldElsewhereIsRefused) {
  auto& h = this->harness;
  this->install();
  h.holdElsewhere(platform::kVK_ANSI_T, platform::cmdKey | platform::optionKey);
  platform::EventHotKeyRef ref = reinterpret_cast<platform::EventHotKeyRef>(this);
  EXPECT_EQ(this->registerChord(platform::kVK_ANSI_T, platform::cmdKey | platform::optionKey, &ref),
            platform::eventHotKeyExistsErr);
  EXPECT_EQ(ref, nullptr);
  h.press(platform::kVK_ANSI_T, platform::cmdKey | platform::optionKey);
  h.runFor(0.3);
  EXPECT_EQ(this->presses.load(), 0);

  ASSERT_EQ(this->registerChord(platform::kVK_ANSI_T, kCommandShift, &ref), platform::noErr);
  h.press(platform::kVK_ANSI_T, kCommandShift);
  ASSERT_TRUE(h.runUntil([&] { return this->presses.load() == 1; }, 20));
  h.hotKeys().UnregisterEventHotKey(ref);
}

REGISTER_TYPED_TEST_SUITE_P(HotKeysContract,
                            OnlyRegisteredChordsAreDeliveredUntilUnregistered,
                            AChordHeldElsewhereIsRefused);

}  // namespace lumivane::contract
