#pragma once

#include <xcb/xcb.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/gtk/application_profiles.h"
#include "platform/gtk/key_event_objects.h"
#include "platform/keyboard_events.h"
#include "platform/x11/x11_activation_order.h"
#include "platform/x11/x11_application_edits.h"
#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_ewmh.h"

namespace lumivane::platform::x11 {

// Synthetic keys on X11, injected with the XTEST extension: GTK 3 and many
// other toolkits ignore key events sent with SendEvent, so the keys have to
// look as if they were typed. Any thread: one post runs at a time, on a
// connection of this object's own. The host posts from worker threads, and a
// post waits up to seconds for the window manager and the user's hands; GDK's
// connection belongs to the main loop, which must neither be held that long
// nor have its events read by another thread.
//
// X has no per-process event queue, so posting to a process means typing
// into its window: CGEventPostToPid makes that window active through the
// window manager, types the key there and, after the key-up, hands focus back
// to the window that was active before (the host's panel). Which of the
// process's windows follows the workspace's rule (windowToActivate), the one
// the paste activates too. Without a window manager no window can be made
// active and nothing is typed.
//
// Every wait is bounded, and wakes on the server's news (the active window
// changing, the focus moving) rather than polling:
//   - kPanelActivationWait: the host's panel, when visible, becoming active
//     before the target is activated (a late focus change to the panel would
//     otherwise take the chord away from the target);
//   - kTargetActivationWait: the target becoming active; when it does not,
//     nothing is typed;
//   - kHeldKeysWait: keys the user still holds being released (checked every
//     kHeldKeysPoll: X tells no client when another's keys go up); keys still
//     down after it are released by injection, since a held Shift would turn
//     Control+C into Control+Shift+C;
//   - kFocusReturnWait: the previous window becoming active again.
// A key-down posted to a process can thus take at most about
// kPanelActivationWait + kTargetActivationWait + kHeldKeysWait (3.5 s) and a
// few round trips to the server, its key-up kFocusReturnWait (1 s);
// CGEventPost only the held-key wait, and kPasteReadWait after the host's
// paste chord (below). Called on the main thread, these waits hold the main
// loop.
//
// The host's copy chord (Command+C, posted to a process) and paste chord
// (Command+V, at a tap) mean copy and paste; what that takes depends on the
// application (x11_application_edits.h). The copy's application is the one
// whose window the chord would go to, the paste's the one whose window is
// active. One its profile names gets its own keys in place of the chord
// (each typed whole at the key-down, with Shift where its keysym needs it;
// the key-up only gives the focus back), or has its selection taken from
// PRIMARY without a key, or the text it is to paste offered as PRIMARY while
// its keys are typed. Any other gets the chord as it is. A paste that typed
// keys returns once the application has read what it pastes, or after
// kPasteReadWait: an application may first ask for much else (a browser
// reads the clipboard over when it is activated), and the host puts the
// user's clipboard back soon after the chord.
class X11KeyboardEvents final : public KeyboardEvents {
 public:
  using Seconds = std::chrono::duration<double>;
  static constexpr Seconds kPanelActivationWait{1.0};
  static constexpr Seconds kTargetActivationWait{1.0};
  static constexpr Seconds kHeldKeysWait{1.5};
  static constexpr Seconds kHeldKeysPoll{0.01};
  static constexpr Seconds kFocusReturnWait{1.0};
  static constexpr Seconds kPasteReadWait{2.0};

  // `displayName`: the display to type into ($DISPLAY when empty).
  // `panelWindow`: the X window of the host's panel while it is visible, 0
  // otherwise; called from the posting thread, so it must be thread-safe.
  // When the display cannot be opened, events are still made and given back
  // but nothing is typed.
  // `panelSettling`: true while the panel, just shown, may still present
  // itself to get the keyboard; a target is activated only once it is over.
  // `activationOrder`: the workspace's record of the windows the user used
  // (none: every process's topmost window is typed into).
  // `edits`: the applications' profiles and the selections (none: every
  // application gets the host's chords as they are).
  X11KeyboardEvents(std::string displayName,
                    std::function<std::uint32_t()> panelWindow,
                    std::function<bool()> panelSettling = {},
                    std::shared_ptr<const ActivationOrder> activationOrder = nullptr,
                    std::unique_ptr<X11ApplicationEdits> edits = nullptr);
  ~X11KeyboardEvents() override;
  X11KeyboardEvents(const X11KeyboardEvents&) = delete;
  X11KeyboardEvents& operator=(const X11KeyboardEvents&) = delete;

  // KeyboardEvents.
  CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID state) override;
  // The new event carries the modifiers held on the keyboard now, unless its
  // source is a private one. Reading them may wait for a post in progress on
  // another thread.
  CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                        CGKeyCode virtualKey,
                                        bool keyDown) override;
  void CGEventSetFlags(CGEventRef event, CGEventFlags flags) override;
  // A key-down presses exactly the modifiers of its flags, then its key; a
  // key-up releases its key, then those modifiers. Events this object did not
  // make, or whose key this keyboard cannot type, are dropped.
  void CGEventPostToPid(pid_t pid, CGEventRef event) override;
  void CGEventPost(CGEventTapLocation tap, CGEventRef event) override;
  void CFRelease(CGEventSourceRef source) override;
  void CFRelease(CGEventRef event) override;

  // Tests count the sources and events not given back.
  friend class X11KeyboardEventsTestPeer;

 private:
  using KeyEvent = gtk::SyntheticKey;
  // The process a key-down was typed into, kept until its key-up.
  struct Aim {
    pid_t pid = 0;
    xcb_window_t target = XCB_WINDOW_NONE;
    xcb_window_t previous = XCB_WINDOW_NONE;
  };

  // The connection, opened on first use and again after the server dropped
  // it; null when the display cannot be reached.
  XcbConnection* connectionLocked();
  CGEventFlags heldFlagsLocked();
  // Finds the window of `pid` and makes it active; the aim on success.
  std::optional<Aim> aimAtLocked(pid_t pid);
  xcb_window_t windowOfLocked(pid_t pid);
  // Whether `window` is the active window and holds the input focus.
  bool isActiveLocked(xcb_window_t window);
  bool activateLocked(xcb_window_t window, Seconds bound);
  std::optional<xcb_timestamp_t> serverTimeLocked();
  // Waits until `condition` holds, for at most `bound`, checking it again
  // whenever the server has news of the active window or of the focus of
  // `watched` (when given), and every `recheck` (when given).
  bool waitLocked(const std::function<bool()>& condition,
                  Seconds bound,
                  xcb_window_t watched,
                  std::optional<Seconds> recheck);
  // Waits for keys the user holds, then releases those still down.
  void settleHeldKeysLocked();
  void typeLocked(const KeyEvent& event);
  // Each stroke whole: its modifiers down, its key down and up, the
  // modifiers up. Strokes this keyboard cannot type are left out.
  void typeStrokesLocked(const std::vector<gtk::KeyStroke>& strokes);
  // Whether `event` is the host's copy or paste chord: `virtualKey` with
  // exactly the Command flag, and edits to make of it.
  bool isHostChord(const KeyEvent& event, CGKeyCode virtualKey) const;
  // How the application of `window` (of `pid`) copies or pastes; absent when
  // no profile names it.
  std::optional<gtk::ApplicationProfile> profileLocked(xcb_window_t window, pid_t pid);
  // Pastes as `paste` says, into whatever has the focus.
  void pasteLocked(const gtk::EditAction& paste);
  bool fakeKeyLocked(std::uint8_t type, xcb_keycode_t keycode);
  void releaseOursLocked();
  void restoreFocusLocked(const Aim& aim);
  void discardEventsLocked();

  const std::string displayName_;
  const std::function<std::uint32_t()> panelWindow_;
  const std::function<bool()> panelSettling_;
  const std::shared_ptr<const ActivationOrder> activationOrder_;
  const std::unique_ptr<X11ApplicationEdits> edits_;

  gtk::KeyEventObjects objects_;

  // Held for the whole of a post, so that chords from two threads never
  // interleave.
  std::mutex connectionMutex_;
  std::unique_ptr<XcbConnection> connection_;
  std::unique_ptr<Ewmh> ewmh_;  // on connection_
  // An unmapped window of ours whose property changes give server time.
  xcb_window_t timeWindow_ = XCB_WINDOW_NONE;
  // What this object pressed and has not released yet: event keys by their
  // virtual key, and the modifier keys their flags asked for.
  std::map<CGKeyCode, xcb_keycode_t> pressedKeys_;
  std::set<xcb_keycode_t> pressedModifiers_;
  std::optional<Aim> aim_;
  // The clipboard's conversions served before the host's own paste chord
  // went out, until its key-up.
  std::optional<std::uint64_t> pasteReadsBefore_;
};

}  // namespace lumivane::platform::x11
