#include "platform/x11/x11_hot_keys.h"

#include <gtest/gtest.h>

// After GoogleTest, whose names Xlib's macros would replace.
#include <X11/keysym.h>
#include <gdk/gdkx.h>

#include <algorithm>
#include <vector>

#include "platform/x11/x11_keyboard_mapping.h"
#include "tests/platform/x11/gtk_test_display.h"
#include "tests/platform/x11/x_test_user.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::cmdKey;
using platform::eventHotKeyExistsErr;
using platform::EventHotKeyRef;
using platform::noErr;
using platform::OSStatus;
using platform::paramErr;
using platform::shiftKey;
using platform::x11::X11HotKeys;
using test_support::GdkTestDisplay;
using test_support::waitUntil;
using test_support::XSession;
using test_support::XTestUser;

constexpr std::uint32_t kChord = cmdKey | shiftKey;
constexpr std::uint16_t kControlShift = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT;
constexpr std::uint32_t kVK_ANSI_Y = 0x10;

// What the handlers saw.
struct Deliveries {
  int pressed = 0;
  int released = 0;
};

OSStatus countPress(platform::EventHandlerCallRef, platform::EventRef, void* userData) {
  ++static_cast<Deliveries*>(userData)->pressed;
  return noErr;
}

OSStatus countRelease(platform::EventHandlerCallRef, platform::EventRef, void* userData) {
  ++static_cast<Deliveries*>(userData)->released;
  return noErr;
}

// Key presses GDK read on a display, hot keys or not: a test's view of what
// the server sent, ahead of the hot keys' own filter.
class PressCounter {
 public:
  explicit PressCounter(GdkDisplay* display) : display_(gdk_x11_display_get_xdisplay(display)) {
    gdk_window_add_filter(nullptr, &PressCounter::filter, this);
  }
  ~PressCounter() { gdk_window_remove_filter(nullptr, &PressCounter::filter, this); }
  int presses() const { return presses_; }

 private:
  static GdkFilterReturn filter(GdkXEvent* xevent, GdkEvent*, gpointer self) {
    auto* counter = static_cast<PressCounter*>(self);
    const auto* event = static_cast<const XEvent*>(xevent);
    if (event->xany.display == counter->display_ && event->type == KeyPress)
      ++counter->presses_;
    return GDK_FILTER_CONTINUE;
  }
  Display* display_;
  int presses_ = 0;
};

class X11HotKeysTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(test_support::startGtkOnPrivateDesktop());
    ASSERT_TRUE(session_.ready()) << session_.failure();
    ASSERT_TRUE(user_.ready());
    display_ = std::make_unique<GdkTestDisplay>(session_.display());
    ASSERT_TRUE(display_->get());
    counter_ = std::make_unique<PressCounter>(display_->get());
    hotKeys_ = std::make_unique<X11HotKeys>(display_->get());
    const platform::EventTypeSpec pressed{platform::kEventClassKeyboard,
                                          platform::kEventHotKeyPressed};
    const platform::EventTypeSpec released{platform::kEventClassKeyboard,
                                           platform::kEventHotKeyReleased};
    ASSERT_EQ(hotKeys_->InstallEventHandler(hotKeys_->GetApplicationEventTarget(), &countPress, 1,
                                            &pressed, &deliveries_, nullptr),
              noErr);
    ASSERT_EQ(hotKeys_->InstallEventHandler(hotKeys_->GetApplicationEventTarget(), &countRelease, 1,
                                            &released, &deliveries_, nullptr),
              noErr);
  }

  void TearDown() override {
    hotKeys_.reset();
    counter_.reset();
    display_.reset();
  }

  OSStatus registerChord(std::uint32_t keyCode, std::uint32_t modifiers, EventHotKeyRef* ref) {
    return hotKeys_->RegisterEventHotKey(keyCode, modifiers, {platform::fourCharCode("TEST"), 1},
                                         hotKeys_->GetApplicationEventTarget(), 0, ref);
  }

  // Types Control+Shift+`keysym` as the user would.
  void pressChord(xcb_keysym_t keysym) {
    ASSERT_TRUE(user_.chord({XK_Control_L, XK_Shift_L}, keysym));
  }

  bool waitForPresses(int count) {
    return waitUntil([&] {
      test_support::pump();
      return deliveries_.pressed >= count;
    });
  }

  // Whether another client could grab the chord now, i.e. nobody holds it.
  bool grabbable(xcb_keycode_t keycode, std::uint16_t modifiers) {
    XTestUser other(session_.display());
    auto& c = other.connection();
    return c.succeeded(xcb_grab_key_checked(c.get(), 0, c.root(), modifiers, keycode,
                                            XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
  }

  // Whether every lock variant of Control+Shift+`keysym` is free.
  bool nothingGrabbed(xcb_keysym_t keysym) {
    const auto keycode = user_.keycodeOf(keysym);
    for (std::uint16_t locks : platform::x11::lockVariants(XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2 |
                                                           XCB_MOD_MASK_3 | XCB_MOD_MASK_5)) {
      if (!grabbable(*keycode, kControlShift | locks))
        return false;
    }
    return true;
  }

  XSession session_;
  XTestUser user_{session_.display()};
  std::unique_ptr<GdkTestDisplay> display_;
  std::unique_ptr<PressCounter> counter_;
  std::unique_ptr<X11HotKeys> hotKeys_;
  Deliveries deliveries_;
};

// A grab matches modifiers exactly: with Num Lock or Caps Lock on, the chord
// carries their bits too and must still count.
TEST_F(X11HotKeysTest, DeliversWithTheLocksOn) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);

  ASSERT_TRUE(user_.tap(XK_Num_Lock));
  ASSERT_TRUE(waitUntil([&] { return user_.modifierState() & XCB_MOD_MASK_2; }));
  pressChord(XK_t);
  ASSERT_TRUE(waitForPresses(1)) << "with Num Lock on";

  ASSERT_TRUE(user_.tap(XK_Caps_Lock));
  ASSERT_TRUE(waitUntil([&] { return user_.modifierState() & XCB_MOD_MASK_LOCK; }));
  pressChord(XK_t);
  ASSERT_TRUE(waitForPresses(2)) << "with Num Lock and Caps Lock on";

  ASSERT_TRUE(user_.tap(XK_Num_Lock));
  ASSERT_TRUE(waitUntil([&] { return !(user_.modifierState() & XCB_MOD_MASK_2); }));
  pressChord(XK_t);
  ASSERT_TRUE(waitForPresses(3)) << "with Caps Lock on";
  EXPECT_EQ(deliveries_.pressed, 3);
}

// Another client holds the chord with Num Lock only: the whole chord is
// refused, and the variants that could be had are given back.
TEST_F(X11HotKeysTest, RefusesAChordAnotherClientHoldsAndKeepsNothing) {
  XTestUser other(session_.display());
  auto& c = other.connection();
  const auto keycode = user_.keycodeOf(XK_t);
  ASSERT_TRUE(
      c.succeeded(xcb_grab_key_checked(c.get(), 0, c.root(), kControlShift | XCB_MOD_MASK_2,
                                       *keycode, XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));

  EventHotKeyRef ref = reinterpret_cast<EventHotKeyRef>(&other);
  EXPECT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), eventHotKeyExistsErr);
  EXPECT_EQ(ref, nullptr);
  for (int locks : {0, XCB_MOD_MASK_LOCK + 0, XCB_MOD_MASK_LOCK | XCB_MOD_MASK_2})
    EXPECT_TRUE(grabbable(*keycode, static_cast<std::uint16_t>(kControlShift | locks)))
        << "locks 0x" << std::hex << locks;

  // Once the other client lets go, the chord can be had.
  xcb_ungrab_key(c.get(), *keycode, c.root(), kControlShift | XCB_MOD_MASK_2);
  xcb_flush(c.get());
  EXPECT_TRUE(
      waitUntil([&] { return registerChord(platform::kVK_ANSI_T, kChord, &ref) == noErr; }));
}

// Delivery stopping is the hot-keys contract's; every lock variant of the
// grab must go with it, for other clients to have the chord.
TEST_F(X11HotKeysTest, UnregisteringLetsGoOfEveryVariant) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);
  ASSERT_FALSE(nothingGrabbed(XK_t));
  ASSERT_EQ(hotKeys_->UnregisterEventHotKey(ref), noErr);
  EXPECT_TRUE(nothingGrabbed(XK_t));
  EXPECT_EQ(hotKeys_->UnregisterEventHotKey(ref), platform::eventHotKeyInvalidErr);
}

// Holding the chord makes the server repeat the key; the user pressed once.
TEST_F(X11HotKeysTest, AHeldChordIsDeliveredOnce) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);
  EventHotKeyRef sentinel = nullptr;
  ASSERT_EQ(registerChord(kVK_ANSI_Y, kChord, &sentinel), noErr);

  ASSERT_TRUE(user_.press(XK_Control_L));
  ASSERT_TRUE(user_.press(XK_Shift_L));
  ASSERT_TRUE(user_.press(XK_t));
  const bool repeated = waitUntil([&] {
    test_support::pump();
    return counter_->presses() >= 5;
  });
  ASSERT_TRUE(user_.release(XK_t));
  ASSERT_TRUE(user_.press(XK_y));
  ASSERT_TRUE(user_.release(XK_y));
  ASSERT_TRUE(user_.release(XK_Shift_L));
  ASSERT_TRUE(user_.release(XK_Control_L));
  ASSERT_TRUE(repeated) << "the server did not repeat the held key";

  ASSERT_TRUE(waitForPresses(2));
  EXPECT_EQ(deliveries_.pressed, 2);
  EXPECT_TRUE(waitUntil([&] {
    test_support::pump();
    return deliveries_.released == 2;
  }));
}

// Keys and masks this keyboard cannot express are refused, not replaced by
// something else; so is a chord registered twice.
TEST_F(X11HotKeysTest, RefusesWhatCannotBeGrabbedAsAsked) {
  EventHotKeyRef ref = nullptr;
  EXPECT_EQ(registerChord(0x3F, kChord, &ref), paramErr);  // Function.
  EXPECT_EQ(registerChord(0xFFFF, kChord, &ref), paramErr);
  EXPECT_EQ(registerChord(0x10000 | platform::kVK_ANSI_T, kChord, &ref), paramErr);
  EXPECT_EQ(registerChord(platform::kVK_ANSI_T, kChord | 0x0400, &ref), paramErr);  // Caps Lock.
  EXPECT_EQ(ref, nullptr);
  EXPECT_TRUE(nothingGrabbed(XK_t));
  EXPECT_EQ(hotKeys_->RegisterEventHotKey(platform::kVK_ANSI_T, kChord, {}, nullptr, 0, &ref),
            paramErr);
  EXPECT_EQ(registerChord(platform::kVK_ANSI_T, kChord, nullptr), paramErr);

  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);
  EventHotKeyRef second = nullptr;
  EXPECT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &second), eventHotKeyExistsErr);
  EXPECT_EQ(second, nullptr);
}

// The user's keyboard layout changes and T moves to another key: the chord
// follows it.
TEST_F(X11HotKeysTest, FollowsTheKeyAfterAKeyboardMappingChange) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);

  auto& c = user_.connection();
  const xcb_setup_t* setup = xcb_get_setup(c.get());
  const auto count = static_cast<std::uint8_t>(setup->max_keycode - setup->min_keycode + 1);
  platform::x11::XcbReply<xcb_get_keyboard_mapping_reply_t> mapping(xcb_get_keyboard_mapping_reply(
      c.get(), xcb_get_keyboard_mapping(c.get(), setup->min_keycode, count), nullptr));
  ASSERT_TRUE(mapping);
  const int per = mapping->keysyms_per_keycode;
  xcb_keysym_t* keysyms = xcb_get_keyboard_mapping_keysyms(mapping.get());
  const xcb_keycode_t oldKeycode = *user_.keycodeOf(XK_t);
  // The highest key with no symbols takes T's row; T's key becomes blank.
  xcb_keycode_t newKeycode = 0;
  for (int keycode = setup->max_keycode; keycode > setup->min_keycode && !newKeycode; --keycode) {
    const xcb_keysym_t* row = keysyms + (keycode - setup->min_keycode) * per;
    if (std::all_of(row, row + per, [](xcb_keysym_t keysym) { return keysym == 0; }))
      newKeycode = static_cast<xcb_keycode_t>(keycode);
  }
  ASSERT_NE(newKeycode, 0);
  const xcb_keysym_t* oldRow = keysyms + (oldKeycode - setup->min_keycode) * per;
  std::vector<xcb_keysym_t> moved(oldRow, oldRow + per);
  std::vector<xcb_keysym_t> blank(static_cast<std::size_t>(per), 0);
  ASSERT_TRUE(c.succeeded(xcb_change_keyboard_mapping_checked(
      c.get(), 1, newKeycode, static_cast<std::uint8_t>(per), moved.data())));
  ASSERT_TRUE(c.succeeded(xcb_change_keyboard_mapping_checked(
      c.get(), 1, oldKeycode, static_cast<std::uint8_t>(per), blank.data())));

  // Grabbed anew on the new key, and the old key let go.
  EXPECT_TRUE(waitUntil([&] {
    test_support::pump();
    return !grabbable(newKeycode, kControlShift);
  }));
  EXPECT_TRUE(grabbable(oldKeycode, kControlShift));
  ASSERT_EQ(user_.keycodeOf(XK_t), newKeycode);
  pressChord(XK_t);
  ASSERT_TRUE(waitForPresses(1));
  EXPECT_EQ(deliveries_.pressed, 1);
}

// Num Lock is bound to another modifier: the chord must work with that one
// on instead.
TEST_F(X11HotKeysTest, FollowsTheLocksAfterAModifierMappingChange) {
  EventHotKeyRef ref = nullptr;
  ASSERT_EQ(registerChord(platform::kVK_ANSI_T, kChord, &ref), noErr);

  auto& c = user_.connection();
  platform::x11::XcbReply<xcb_get_modifier_mapping_reply_t> map(
      xcb_get_modifier_mapping_reply(c.get(), xcb_get_modifier_mapping(c.get()), nullptr));
  ASSERT_TRUE(map);
  const int per = map->keycodes_per_modifier;
  const xcb_keycode_t* keys = xcb_get_modifier_mapping_keycodes(map.get());
  std::vector<xcb_keycode_t> moved(keys, keys + 8 * per);
  const auto numLock = user_.keycodeOf(XK_Num_Lock);
  ASSERT_TRUE(numLock);
  auto mod2 = std::find(moved.begin() + 4 * per, moved.begin() + 5 * per, *numLock);
  auto freeMod3 = std::find(moved.begin() + 5 * per, moved.begin() + 6 * per, 0);
  ASSERT_NE(mod2, moved.begin() + 5 * per) << "Num Lock is not on Mod2 to begin with";
  ASSERT_NE(freeMod3, moved.begin() + 6 * per);
  *mod2 = 0;
  *freeMod3 = *numLock;
  platform::x11::XcbReply<xcb_set_modifier_mapping_reply_t> set(xcb_set_modifier_mapping_reply(
      c.get(), xcb_set_modifier_mapping(c.get(), static_cast<std::uint8_t>(per), moved.data()),
      nullptr));
  ASSERT_TRUE(set && set->status == XCB_MAPPING_STATUS_SUCCESS);

  const auto t = *user_.keycodeOf(XK_t);
  EXPECT_TRUE(waitUntil([&] {
    test_support::pump();
    return !grabbable(t, kControlShift | XCB_MOD_MASK_3);
  }));
  ASSERT_TRUE(user_.tap(XK_Num_Lock));
  ASSERT_TRUE(waitUntil([&] { return user_.modifierState() & XCB_MOD_MASK_3; }));
  pressChord(XK_t);
  ASSERT_TRUE(waitForPresses(1));
  EXPECT_EQ(deliveries_.pressed, 1);
}

}  // namespace
}  // namespace lumivane
