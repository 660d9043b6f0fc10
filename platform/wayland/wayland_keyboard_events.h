#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/gtk/application_profiles.h"
#include "platform/gtk/key_event_objects.h"
#include "platform/keyboard_events.h"
#include "platform/wayland/wayland_keymap.h"
#include "platform/wayland/xwayland_primary.h"

struct zwp_virtual_keyboard_v1;

namespace lumivane::platform::wayland {

class WaylandPasteboard;

class SwayIpc;
class WaylandConnection;
class WaylandToplevels;
struct Toplevel;

// Synthetic keys on Wayland, typed on a virtual keyboard of the backend's own
// with a complete keymap (WaylandKeymap). The keyboard is made once, with
// this object, and kept: keys typed on a keyboard the applications have not
// yet seen appear are lost. The compositor derives no modifiers from keys
// typed there, so each key carries its modifiers explicitly, and they are
// this keyboard's own: what the user holds on another keyboard does not
// reach the application with the host's chord. Any thread: one post runs at
// a time.
//
// Wayland has no per-process event queue either, so posting to a process
// means typing into its window: CGEventPostToPid activates the process's
// window the user used last (else its first), waits until the compositor
// says it is activated, types, and after the key-up gives the keyboard back
// to the window activated before (the host's panel). The process of a window
// comes from sway's tree; without it (another compositor) every process is 0
// and posting to process 0 aims at the window last activated that is not the
// host's. Every wait is bounded and wakes on the compositor's news:
//   - kPanelWait: the host's panel, when shown, having the keyboard and done
//     presenting itself (asked again every kSettlingRecheck, since the main
//     thread decides that) before the target is activated;
//   - kTargetActivationWait: the target becoming activated; when it does
//     not, nothing is typed;
//   - kFocusReturnWait: the window before becoming activated again.
//
// Applications whose copy and paste keys are not Control+C and Control+V
// (terminals, Emacs...) have profiles (gtk/application_profiles.h): the
// host's copy chord (Command+C posted to a process) and paste chord
// (Command+V posted at a tap) become the profile's keys for the window they
// go to. An application that keeps its selection in PRIMARY is copied from
// without a key, and pastes the text the host lends the primary selection
// while its paste-selection keys are typed (gtk/primary_loan.h).
class WaylandKeyboardEvents final : public KeyboardEvents {
 public:
  using Seconds = std::chrono::duration<double>;
  static constexpr Seconds kPanelWait{1.0};
  static constexpr Seconds kSettlingRecheck{0.02};
  static constexpr Seconds kTargetActivationWait{1.0};
  static constexpr Seconds kFocusReturnWait{1.0};
  //   - kXWaylandCopyWait: after a copy chord typed into an XWayland window,
  //     the clipboard changing before the keyboard goes back (XWayland hands
  //     an X client's copy on only while one of its windows has the
  //     keyboard).
  static constexpr Seconds kXWaylandCopyWait{2.0};
  //   - kPasteReadWait: after a paste, the application reading what it
  //     pastes (the clipboard, or the primary selection the host lends for
  //     it), so that the host's restore of the clipboard never overtakes it.
  static constexpr Seconds kPasteReadWait{2.0};
  //   - kXWaylandLoanWait: before a paste through the primary selection into
  //     an XWayland window, XWayland taking the lent selection over on the X
  //     side; when it does not, nothing is typed (the application would
  //     paste the selection it holds itself).
  static constexpr Seconds kXWaylandLoanWait{1.0};

  struct Options {
    // The compositor's windows, shared with the workspace; without them no
    // process can be posted to.
    std::shared_ptr<WaylandToplevels> toplevels = nullptr;
    // sway's IPC, for the process of each window and the X class of
    // XWayland windows.
    std::shared_ptr<SwayIpc> ipc = nullptr;
    // Whether the host's panel is on the screen, and whether it may still
    // present itself to get the keyboard after being shown. Called from the
    // posting thread.
    std::function<bool()> panelVisible = nullptr;
    std::function<bool()> panelSettling = nullptr;
    // The app id of the host's windows.
    std::string hostAppId = "lumivane";
    // How applications copy and paste; none: the host's chords go to every
    // application as they are.
    std::optional<gtk::ApplicationProfiles> profiles = std::nullopt;
    // The clipboard, for a copy into an XWayland window (without it the
    // keyboard goes back right after the chord) and for profiles that copy
    // from the primary selection, which they read (without it they copy
    // nothing). Both outlive this object.
    WaylandPasteboard* clipboard = nullptr;
    WaylandPasteboard* primary = nullptr;
  };

  // Makes the virtual keyboard on `connection`, which outlives this object.
  // Without the compositor's virtual-keyboard manager, or a keymap, events
  // are still made and given back but nothing is typed.
  WaylandKeyboardEvents(WaylandConnection& connection, Options options);
  ~WaylandKeyboardEvents() override;
  WaylandKeyboardEvents(const WaylandKeyboardEvents&) = delete;
  WaylandKeyboardEvents& operator=(const WaylandKeyboardEvents&) = delete;

  // Whether the keyboard was made.
  bool ready() const { return keyboard_ != nullptr; }

  // KeyboardEvents.
  CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID state) override;
  // Wayland tells no client what another keyboard holds: new events carry
  // no modifiers until they are set.
  CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                        CGKeyCode virtualKey,
                                        bool keyDown) override;
  void CGEventSetFlags(CGEventRef event, CGEventFlags flags) override;
  // A key-down holds exactly the modifiers of its flags while its key goes
  // down; a key-up lets its key go, then the modifiers. Events this object
  // did not make, or whose key the keymap lacks, are dropped.
  void CGEventPostToPid(pid_t pid, CGEventRef event) override;
  void CGEventPost(CGEventTapLocation tap, CGEventRef event) override;
  void CFRelease(CGEventSourceRef source) override;
  void CFRelease(CGEventRef event) override;

 private:
  using KeyEvent = gtk::SyntheticKey;
  // The window a process's key-down was typed into, kept until its key-up.
  struct Aim {
    pid_t pid = 0;
    std::uint64_t target = 0;
    // The window activated before, to give the keyboard back to; 0: none.
    std::uint64_t previous = 0;
    // The clipboard's change count before a copy chord into an XWayland
    // window, which the keyboard stays with until the count has moved.
    std::optional<std::int64_t> clipboardBeforeCopy;
    // The keys of that copy, typed again should the clipboard not move.
    std::optional<gtk::EditAction> copyAgain;
    // When the user last brought the target forward (before the host did).
    std::chrono::steady_clock::time_point userActivatedAt{};
  };

  std::optional<Aim> aimAtLocked(pid_t pid);
  // The windows of process `pid` (0: see above).
  std::optional<Toplevel> windowOfLocked(pid_t pid);
  bool isActivated(std::uint64_t id);
  bool activateLocked(std::uint64_t id, Seconds bound);
  void restoreFocusLocked(const Aim& aim);
  // Whether window `id` is an X client's, through XWayland.
  bool isXWaylandLocked(std::uint64_t id);
  // The profile of the application of window `id`, if it has one.
  std::optional<gtk::ApplicationProfile> profileForLocked(std::uint64_t id);
  // A profile's copy from the primary selection: its text goes on the
  // clipboard when the selection changed after `since`.
  void copyFromPrimaryLocked(std::chrono::steady_clock::time_point since);
  // Does `action` in place of the host's copy chord.
  void performLocked(const gtk::EditAction& action);
  // Does `paste` in place of the host's paste chord, and waits for the
  // application to read what it pastes, at most kPasteReadWait.
  // `window` is the one that has the keyboard.
  void pasteLocked(const gtk::EditAction& paste, std::uint64_t window);
  void typeStrokesLocked(const std::vector<gtk::KeyStroke>& strokes);
  void typeLocked(const KeyEvent& event);
  // Sends keys on the connection's thread and waits until the compositor has
  // handled them.
  void sendLocked(std::function<void(zwp_virtual_keyboard_v1*)> keys);
  void releaseOursLocked();

  WaylandConnection& connection_;
  const Options options_;
  const std::unique_ptr<WaylandKeymap> keymap_;
  // Made and destroyed on the connection's thread; used there only.
  zwp_virtual_keyboard_v1* keyboard_ = nullptr;

  gtk::KeyEventObjects objects_;

  // Held for the whole of a post, so that chords from two threads never
  // interleave.
  std::mutex postMutex_;
  // The keys this object holds down by their virtual key, as evdev codes,
  // and the modifiers it holds with them.
  std::map<CGKeyCode, std::uint32_t> pressedKeys_;
  std::uint32_t heldModifiers_ = 0;
  std::optional<Aim> aim_;
  // The clipboard's reads before the host's paste chord went down, waited
  // past when it comes up.
  std::optional<std::uint64_t> pasteReadsBefore_;
  // PRIMARY on XWayland's X server, connected at the first paste that needs
  // it.
  std::unique_ptr<XWaylandPrimary> xwaylandPrimary_;
};

}  // namespace lumivane::platform::wayland
