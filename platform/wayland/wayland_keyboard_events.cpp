#include "platform/wayland/wayland_keyboard_events.h"

#include <sys/mman.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <fstream>
#include <thread>
#include <vector>

#include "platform/gtk/key_symbols.h"
#include "platform/gtk/primary_loan.h"
#include "platform/wayland/protocols/virtual-keyboard-unstable-v1-client-protocol.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/wayland/wayland_toplevels.h"

namespace lumivane::platform::wayland {
namespace {

using Clock = std::chrono::steady_clock;

Clock::duration toClock(WaylandKeyboardEvents::Seconds seconds) {
  return std::chrono::duration_cast<Clock::duration>(seconds);
}

std::chrono::milliseconds toMilliseconds(WaylandKeyboardEvents::Seconds seconds) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(seconds);
}

// A key's time stamp: milliseconds on a clock that only goes forward.
std::uint32_t now() {
  return static_cast<std::uint32_t>(
      std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now().time_since_epoch())
          .count());
}

}  // namespace

WaylandKeyboardEvents::WaylandKeyboardEvents(WaylandConnection& connection, Options options)
    : connection_(connection),
      options_(std::move(options)),
      keymap_(WaylandKeymap::fromEnvironment()) {
  if (!keymap_)
    return;
  connection_.call<bool>([this] {
    const WaylandGlobals& globals = connection_.globals();
    if (!globals.virtualKeyboards || !globals.seat)
      return false;
    const std::string& text = keymap_->text();
    const int fd = ::memfd_create("lumivane-keymap", MFD_CLOEXEC);
    if (fd < 0)
      return false;
    const bool written = ::write(fd, text.data(), text.size()) == static_cast<ssize_t>(text.size());
    if (written) {
      keyboard_ = zwp_virtual_keyboard_manager_v1_create_virtual_keyboard(globals.virtualKeyboards,
                                                                          globals.seat);
      // The request carries a copy of the descriptor.
      zwp_virtual_keyboard_v1_keymap(keyboard_, WL_KEYBOARD_KEYMAP_FORMAT_XKB_V1, fd,
                                     static_cast<std::uint32_t>(text.size()));
    }
    ::close(fd);
    return written && connection_.roundTrip();
  });
}

WaylandKeyboardEvents::~WaylandKeyboardEvents() {
  std::lock_guard lock(postMutex_);
  // A key-down whose key-up never came must not leave keys held.
  releaseOursLocked();
  connection_.call<bool>([this] {
    if (keyboard_)
      zwp_virtual_keyboard_v1_destroy(keyboard_);
    keyboard_ = nullptr;
    return true;
  });
}

// Objects -----------------------------------------------------------------------

CGEventSourceRef WaylandKeyboardEvents::CGEventSourceCreate(CGEventSourceStateID state) {
  return objects_.makeSource(state);
}

CGEventRef WaylandKeyboardEvents::CGEventCreateKeyboardEvent(CGEventSourceRef,
                                                             CGKeyCode virtualKey,
                                                             bool keyDown) {
  return objects_.makeEvent({virtualKey, keyDown, 0});
}

void WaylandKeyboardEvents::CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  objects_.setFlags(event, flags);
}

void WaylandKeyboardEvents::CFRelease(CGEventSourceRef source) {
  objects_.release(source);
}

void WaylandKeyboardEvents::CFRelease(CGEventRef event) {
  objects_.release(event);
}

// Posting -------------------------------------------------------------------------

namespace {

// The host's copy and paste chords: C and V with exactly the Command flag.
bool isChord(const auto& key, CGKeyCode virtualKey) {
  return key.virtualKey == virtualKey && key.flags == kCGEventFlagMaskCommand;
}

}  // namespace

void WaylandKeyboardEvents::CGEventPostToPid(pid_t pid, CGEventRef event) {
  const auto key = objects_.find(event);
  if (!key || !ready() || !options_.toplevels)
    return;
  std::lock_guard lock(postMutex_);
  if (key->keyDown) {
    if (aim_ && aim_->pid != pid) {
      // The previous process's chord was never finished.
      releaseOursLocked();
      restoreFocusLocked(*aim_);
      aim_.reset();
    }
    if (!aim_) {
      aim_ = aimAtLocked(pid);
      if (!aim_)
        return;
    }
    // The user may have moved the keyboard elsewhere meanwhile; the keys are
    // for the target only.
    if (!isActivated(aim_->target))
      return;
    if (isChord(*key, kVK_ANSI_C)) {
      if (options_.clipboard && isXWaylandLocked(aim_->target)) {
        aim_->clipboardBeforeCopy = options_.clipboard->changeCount();
        if (const auto keysym = gtk::keysymForVirtualKey(key->virtualKey)) {
          gtk::EditAction chord;
          chord.keys = {gtk::KeyStroke{*keysym, gtk::modifiersForEventFlags(key->flags)}};
          aim_->copyAgain = std::move(chord);
        }
      }
      if (auto profile = profileForLocked(aim_->target)) {
        // The key-up finds nothing pressed, and gives the keyboard back.
        if (profile->copy.kind == gtk::EditAction::Kind::primary) {
          aim_->copyAgain.reset();
          copyFromPrimaryLocked(aim_->userActivatedAt);
        } else {
          if (aim_->copyAgain)
            aim_->copyAgain = profile->copy;
          performLocked(profile->copy);
        }
        return;
      }
    }
    typeLocked(*key);
    return;
  }
  typeLocked(*key);
  if (aim_ && aim_->pid == pid && pressedKeys_.empty()) {
    if (const auto before = aim_->clipboardBeforeCopy) {
      // Bounded: an application with nothing selected copies nothing.
      // XWayland gives its X window the keyboard a moment after the
      // compositor has activated the window's surface, and keys typed in
      // between never reach the application: a copy that has not moved the
      // clipboard by half the bound is typed once more (copying twice does
      // nothing more than copying once).
      const auto half = toMilliseconds(kXWaylandCopyWait) / 2;
      if (!options_.clipboard->waitForChange(*before, half) && aim_->copyAgain &&
          isActivated(aim_->target)) {
        performLocked(*aim_->copyAgain);
        options_.clipboard->waitForChange(*before, half);
      }
    }
    restoreFocusLocked(*aim_);
    aim_.reset();
  }
}

void WaylandKeyboardEvents::CGEventPost(CGEventTapLocation, CGEventRef event) {
  // Every tap reaches the window that has the keyboard.
  const auto key = objects_.find(event);
  if (!key || !ready())
    return;
  std::lock_guard lock(postMutex_);
  const bool paste = isChord(*key, kVK_ANSI_V);
  if (!key->keyDown) {
    typeLocked(*key);
    // Waited for after the key is up: a key held that long would repeat.
    if (paste && pasteReadsBefore_ && options_.clipboard)
      options_.clipboard->waitForReadsServed(*pasteReadsBefore_, toMilliseconds(kPasteReadWait));
    pasteReadsBefore_.reset();
    return;
  }
  if (paste && options_.toplevels) {
    for (const Toplevel& toplevel : options_.toplevels->list()) {
      if (!toplevel.activated)
        continue;
      if (auto profile = profileForLocked(toplevel.id)) {
        pasteLocked(profile->paste, toplevel.id);
        return;
      }
    }
  }
  if (paste && options_.clipboard)
    pasteReadsBefore_ = options_.clipboard->readsServed();
  typeLocked(*key);
}

std::optional<WaylandKeyboardEvents::Aim> WaylandKeyboardEvents::aimAtLocked(pid_t pid) {
  const auto target = windowOfLocked(pid);
  if (!target)
    return std::nullopt;
  if (options_.panelVisible && options_.panelVisible()) {
    // Active, and done asking for the keyboard: a panel still presenting
    // itself would take the keyboard back from the target mid-chord.
    auto panelReady = [&](const std::vector<Toplevel>& list) {
      const bool settling = options_.panelSettling && options_.panelSettling();
      return !settling && std::any_of(list.begin(), list.end(), [&](const Toplevel& t) {
        return t.activated && t.appId == options_.hostAppId;
      });
    };
    const auto deadline = Clock::now() + toClock(kPanelWait);
    while (Clock::now() < deadline &&
           !options_.toplevels->waitUntil(
               panelReady, std::min(toClock(kSettlingRecheck), deadline - Clock::now()))) {
    }
  }
  std::uint64_t previous = 0;
  for (const Toplevel& toplevel : options_.toplevels->list()) {
    if (toplevel.activated && toplevel.id != target->id)
      previous = toplevel.id;
  }
  if (!isActivated(target->id) && !activateLocked(target->id, kTargetActivationWait))
    return std::nullopt;
  return Aim{pid, target->id, previous, std::nullopt, std::nullopt, target->activatedAt};
}

std::optional<Toplevel> WaylandKeyboardEvents::windowOfLocked(pid_t pid) {
  const std::vector<Toplevel> list = options_.toplevels->list();
  const std::vector<SwayWindow> windows =
      options_.ipc ? options_.ipc->windows().value_or(std::vector<SwayWindow>{})
                   : std::vector<SwayWindow>{};
  std::vector<Toplevel> candidates;
  for (const Toplevel& toplevel : list) {
    const SwayWindow* window = swayWindowOf(toplevel, windows);
    const pid_t owner = window ? window->pid : 0;
    // Without processes, only a window the user has been in stands for the
    // application: the host was last used from there.
    if (owner == pid &&
        (pid != 0 || (toplevel.lastActivated > 0 && toplevel.appId != options_.hostAppId))) {
      candidates.push_back(toplevel);
    }
  }
  if (const Toplevel* chosen = toplevelToActivate(candidates))
    return *chosen;
  return std::nullopt;
}

bool WaylandKeyboardEvents::isActivated(std::uint64_t id) {
  const auto list = options_.toplevels->list();
  return std::any_of(list.begin(), list.end(),
                     [&](const Toplevel& t) { return t.id == id && t.activated; });
}

bool WaylandKeyboardEvents::activateLocked(std::uint64_t id, Seconds bound) {
  if (!options_.toplevels->activate(id))
    return false;
  return options_.toplevels->waitUntil(
      [&](const std::vector<Toplevel>& list) {
        return std::any_of(list.begin(), list.end(),
                           [&](const Toplevel& t) { return t.id == id && t.activated; });
      },
      toClock(bound));
}

void WaylandKeyboardEvents::restoreFocusLocked(const Aim& aim) {
  // A window that went away meanwhile cannot take the keyboard back.
  if (aim.previous != 0)
    activateLocked(aim.previous, kFocusReturnWait);
}

bool WaylandKeyboardEvents::isXWaylandLocked(std::uint64_t id) {
  if (!options_.ipc)
    return false;
  const auto list = options_.toplevels->list();
  const auto toplevel =
      std::find_if(list.begin(), list.end(), [&](const Toplevel& t) { return t.id == id; });
  const auto windows = options_.ipc->windows().value_or(std::vector<SwayWindow>{});
  const SwayWindow* window = toplevel != list.end() ? swayWindowOf(*toplevel, windows) : nullptr;
  return window && !window->xClass.empty();
}

// Profiles ------------------------------------------------------------------------

std::optional<gtk::ApplicationProfile> WaylandKeyboardEvents::profileForLocked(std::uint64_t id) {
  if (!options_.profiles)
    return std::nullopt;
  const auto list = options_.toplevels->list();
  const auto toplevel =
      std::find_if(list.begin(), list.end(), [&](const Toplevel& t) { return t.id == id; });
  if (toplevel == list.end())
    return std::nullopt;
  gtk::ApplicationIdentity identity{toplevel->appId, {}, {}};
  if (options_.ipc) {
    const auto windows = options_.ipc->windows().value_or(std::vector<SwayWindow>{});
    if (const SwayWindow* window = swayWindowOf(*toplevel, windows)) {
      // An XWayland window is known by its WM_CLASS, as on X11.
      if (!window->xClass.empty())
        identity = {window->xClass, window->xInstance, {}};
      identity.processName = gtk::processNameOf(window->pid);
    }
  }
  return options_.profiles->profileFor(identity);
}

void WaylandKeyboardEvents::copyFromPrimaryLocked(std::chrono::steady_clock::time_point since) {
  // Nothing on Wayland says which client holds a selection. A client sets
  // the primary selection only while it has the keyboard, so a selection
  // made since the user brought the application forward is the
  // application's; an older one may be anybody's, and is left alone.
  if (!options_.clipboard || !options_.primary || since == decltype(since){} ||
      options_.primary->changedAt() <= since)
    return;
  if (auto text = options_.primary->stringForType(NSPasteboardTypeString))
    options_.clipboard->setStringForType(*text, NSPasteboardTypeString);
}

void WaylandKeyboardEvents::performLocked(const gtk::EditAction& action) {
  // A copy from the primary selection presses nothing; `none` neither.
  if (action.kind == gtk::EditAction::Kind::keys)
    typeStrokesLocked(action.keys);
}

void WaylandKeyboardEvents::pasteLocked(const gtk::EditAction& paste, std::uint64_t window) {
  using Kind = gtk::EditAction::Kind;
  if (paste.kind == Kind::keys) {
    const std::uint64_t before = options_.clipboard ? options_.clipboard->readsServed() : 0;
    typeStrokesLocked(paste.keys);
    if (options_.clipboard)
      options_.clipboard->waitForReadsServed(before, toMilliseconds(kPasteReadWait));
    return;
  }
  if (paste.kind != Kind::primary || !options_.clipboard || !options_.primary)
    return;
  // The host has put the text on the clipboard; the application pastes the
  // primary selection, which offers the text too while the keys go out. A
  // loan refused would paste what the user selected last: nothing is typed.
  const auto text = options_.clipboard->stringForType(NSPasteboardTypeString);
  if (!text)
    return;
  WaylandPasteboard& primary = *options_.primary;
  XWaylandPrimary* x = nullptr;
  if (isXWaylandLocked(window)) {
    // Again after XWayland has restarted, or when it had not yet started.
    if (!xwaylandPrimary_ || !xwaylandPrimary_->alive())
      xwaylandPrimary_ = XWaylandPrimary::open();
    x = xwaylandPrimary_.get();
  }
  if (x)
    x->mark();
  gtk::PrimaryLoan loan(primary, *text, [&primary] { primary.letGo(); });
  if (!loan.lent() || (x && !x->waitForNewOwner(toMilliseconds(kXWaylandLoanWait))))
    return;
  const std::uint64_t before = primary.readsServed();
  typeStrokesLocked(paste.keys);
  primary.waitForReadsServed(before, toMilliseconds(kPasteReadWait));
}

void WaylandKeyboardEvents::typeStrokesLocked(const std::vector<gtk::KeyStroke>& strokes) {
  for (const gtk::KeyStroke& stroke : strokes) {
    // A key the keymap lacks is left out rather than replaced.
    const auto key = keymap_->keyFor(stroke.keysym);
    if (!key)
      continue;
    const std::uint32_t modifiers = keymap_->maskOf(stroke.modifiers) | key->modifiers;
    sendLocked([code = key->code, modifiers](zwp_virtual_keyboard_v1* keyboard) {
      zwp_virtual_keyboard_v1_modifiers(keyboard, modifiers, 0, 0, 0);
      zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
      zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
      zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
    });
  }
}

// Typing --------------------------------------------------------------------------

void WaylandKeyboardEvents::typeLocked(const KeyEvent& event) {
  if (event.keyDown) {
    const auto keysym = gtk::keysymForVirtualKey(event.virtualKey);
    const auto key = keysym ? keymap_->keyFor(*keysym) : std::nullopt;
    if (!key || pressedKeys_.count(event.virtualKey))
      return;
    const std::uint32_t modifiers =
        keymap_->maskOf(gtk::modifiersForEventFlags(event.flags)) | key->modifiers;
    sendLocked([code = key->code, modifiers](zwp_virtual_keyboard_v1* keyboard) {
      zwp_virtual_keyboard_v1_modifiers(keyboard, modifiers, 0, 0, 0);
      zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_PRESSED);
    });
    pressedKeys_.emplace(event.virtualKey, key->code);
    heldModifiers_ = modifiers;
    return;
  }
  auto it = pressedKeys_.find(event.virtualKey);
  if (it == pressedKeys_.end())
    return;
  const std::uint32_t code = it->second;
  pressedKeys_.erase(it);
  // A modifier with no key left to modify has done its work.
  const bool last = pressedKeys_.empty();
  sendLocked([code, last](zwp_virtual_keyboard_v1* keyboard) {
    zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
    if (last)
      zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
  });
  if (last)
    heldModifiers_ = 0;
}

void WaylandKeyboardEvents::sendLocked(std::function<void(zwp_virtual_keyboard_v1*)> keys) {
  connection_.call<bool>([this, keys = std::move(keys)] {
    if (!keyboard_)
      return false;
    keys(keyboard_);
    return connection_.roundTrip();
  });
}

void WaylandKeyboardEvents::releaseOursLocked() {
  if (pressedKeys_.empty() && heldModifiers_ == 0)
    return;
  std::vector<std::uint32_t> codes;
  for (const auto& [virtualKey, code] : pressedKeys_)
    codes.push_back(code);
  pressedKeys_.clear();
  heldModifiers_ = 0;
  sendLocked([codes](zwp_virtual_keyboard_v1* keyboard) {
    for (std::uint32_t code : codes)
      zwp_virtual_keyboard_v1_key(keyboard, now(), code, WL_KEYBOARD_KEY_STATE_RELEASED);
    zwp_virtual_keyboard_v1_modifiers(keyboard, 0, 0, 0, 0);
  });
}

}  // namespace lumivane::platform::wayland
