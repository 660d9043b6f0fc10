#include "platform/x11/x11_keyboard_events.h"

#include <poll.h>
#include <xcb/xtest.h>

#include <algorithm>
#include <utility>
#include <vector>

#include "platform/gtk/primary_loan.h"
#include "platform/x11/x11_application_edits.h"
#include "platform/x11/x11_keyboard_mapping.h"

namespace lumivane::platform::x11 {
namespace {

using Clock = std::chrono::steady_clock;

// How often the panel's settling is asked after again while waiting for the
// panel: the main thread decides it, and the server has no news of it.
constexpr X11KeyboardEvents::Seconds kSettlingRecheck{0.02};

// How deep the input focus may sit below a top-level window (toolkits give
// focus to a child of their own).
constexpr int kMaximumFocusDepth = 32;

Clock::duration toClock(X11KeyboardEvents::Seconds seconds) {
  return std::chrono::duration_cast<Clock::duration>(seconds);
}

// The keys that set the modifiers of `mask`, in the order of their bits;
// absent when one of them has no key.
std::optional<std::vector<xcb_keycode_t>> modifierKeysFor(std::uint16_t mask,
                                                          const ModifierMapping& modifiers,
                                                          const KeyboardMapping& keyboard) {
  std::vector<xcb_keycode_t> keys;
  for (std::uint16_t bit = 1; bit <= 0x80; bit = static_cast<std::uint16_t>(bit << 1)) {
    if (!(mask & bit))
      continue;
    auto keycode = modifiers.keycodeFor(bit, keyboard);
    if (!keycode)
      return std::nullopt;
    keys.push_back(*keycode);
  }
  return keys;
}

std::chrono::milliseconds toMilliseconds(X11KeyboardEvents::Seconds seconds) {
  return std::chrono::duration_cast<std::chrono::milliseconds>(seconds);
}

}  // namespace

X11KeyboardEvents::X11KeyboardEvents(std::string displayName,
                                     std::function<std::uint32_t()> panelWindow,
                                     std::function<bool()> panelSettling,
                                     std::shared_ptr<const ActivationOrder> activationOrder,
                                     std::unique_ptr<X11ApplicationEdits> edits)
    : displayName_(std::move(displayName)),
      panelWindow_(std::move(panelWindow)),
      panelSettling_(std::move(panelSettling)),
      activationOrder_(activationOrder ? std::move(activationOrder)
                                       : std::make_shared<const ActivationOrder>()),
      edits_(std::move(edits)) {
  std::lock_guard lock(connectionMutex_);
  connectionLocked();
}

X11KeyboardEvents::~X11KeyboardEvents() {
  std::lock_guard lock(connectionMutex_);
  // A key-down whose key-up never came must not leave keys held on the
  // user's keyboard.
  releaseOursLocked();
}

// Objects -----------------------------------------------------------------------

CGEventSourceRef X11KeyboardEvents::CGEventSourceCreate(CGEventSourceStateID state) {
  return objects_.makeSource(state);
}

CGEventRef X11KeyboardEvents::CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                                         CGKeyCode virtualKey,
                                                         bool keyDown) {
  // A private source follows no keyboard: its events start with no modifiers.
  // Any other source, or none, starts from what the user holds right now.
  const bool privateSource =
      source && objects_.stateOf(source) == CGEventSourceStateID::privateState;
  CGEventFlags flags = 0;
  if (!privateSource) {
    std::lock_guard lock(connectionMutex_);
    flags = heldFlagsLocked();
  }
  return objects_.makeEvent({virtualKey, keyDown, flags});
}

void X11KeyboardEvents::CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  objects_.setFlags(event, flags);
}

void X11KeyboardEvents::CFRelease(CGEventSourceRef source) {
  objects_.release(source);
}

void X11KeyboardEvents::CFRelease(CGEventRef event) {
  objects_.release(event);
}

// Posting -------------------------------------------------------------------------

void X11KeyboardEvents::CGEventPostToPid(pid_t pid, CGEventRef event) {
  const auto key = objects_.find(event);
  if (!key)
    return;
  std::lock_guard lock(connectionMutex_);
  if (!connectionLocked())
    return;
  discardEventsLocked();
  if (key->keyDown) {
    if (aim_ && aim_->pid != pid) {
      // The previous process's chord was never finished.
      releaseOursLocked();
      restoreFocusLocked(*aim_);
      aim_.reset();
    }
    std::optional<gtk::EditAction> copy;
    if (isHostChord(*key, kVK_ANSI_C)) {
      if (auto profile = profileLocked(windowOfLocked(pid), pid))
        copy = profile->copy;
    }
    // Copying from PRIMARY needs no window, and copying nothing none either.
    if (copy && copy->kind != gtk::EditAction::Kind::keys) {
      if (copy->kind == gtk::EditAction::Kind::primary)
        edits_->copyFromPrimary(*connection_, *ewmh_, pid);
      return;
    }
    if (!aim_) {
      aim_ = aimAtLocked(pid);
      if (!aim_)
        return;
    }
    settleHeldKeysLocked();
    // The user may have moved the focus meanwhile; the keys are for the
    // target only.
    if (!isActiveLocked(aim_->target))
      return;
    if (copy)
      typeStrokesLocked(copy->keys);
    else
      typeLocked(*key);
    return;
  }
  // What a key-down typed in place of the chord is whole: this key-up
  // releases nothing of it, and only gives the focus back.
  typeLocked(*key);
  if (aim_ && aim_->pid == pid && pressedKeys_.empty()) {
    restoreFocusLocked(*aim_);
    aim_.reset();
  }
}

void X11KeyboardEvents::CGEventPost(CGEventTapLocation /*tap*/, CGEventRef event) {
  // Every tap reaches whatever has the focus: X has no later tap than the
  // server's own input.
  const auto key = objects_.find(event);
  if (!key)
    return;
  std::lock_guard lock(connectionMutex_);
  if (!connectionLocked())
    return;
  discardEventsLocked();
  const bool paste = isHostChord(*key, kVK_ANSI_V);
  if (!key->keyDown) {
    typeLocked(*key);
    // Waited for after the key is up: a key held that long would repeat.
    if (paste && pasteReadsBefore_) {
      edits_->clipboard().waitForConversionsServed(*pasteReadsBefore_,
                                                   toMilliseconds(kPasteReadWait));
    }
    pasteReadsBefore_.reset();
    return;
  }
  settleHeldKeysLocked();
  if (paste) {
    const xcb_window_t active = ewmh_->activeWindow();
    const pid_t pid = active == XCB_WINDOW_NONE ? 0 : ewmh_->processOf(active).value_or(0);
    if (auto profile = profileLocked(active, pid)) {
      pasteLocked(profile->paste);
      return;
    }
    pasteReadsBefore_ = edits_->clipboard().conversionsServed();
  }
  typeLocked(*key);
}

bool X11KeyboardEvents::isHostChord(const KeyEvent& event, CGKeyCode virtualKey) const {
  return edits_ && event.virtualKey == virtualKey && event.flags == kCGEventFlagMaskCommand;
}

std::optional<gtk::ApplicationProfile> X11KeyboardEvents::profileLocked(xcb_window_t window,
                                                                        pid_t pid) {
  return edits_->profileFor(*connection_, window, pid);
}

void X11KeyboardEvents::pasteLocked(const gtk::EditAction& paste) {
  using Kind = gtk::EditAction::Kind;
  X11Pasteboard& clipboard = edits_->clipboard();
  if (paste.kind == Kind::keys) {
    const std::uint64_t before = clipboard.conversionsServed();
    typeStrokesLocked(paste.keys);
    clipboard.waitForConversionsServed(before, toMilliseconds(kPasteReadWait));
    return;
  }
  if (paste.kind != Kind::primary)
    return;
  // The host has put the text on the clipboard; the application pastes
  // PRIMARY, so PRIMARY offers it too while the keys go out.
  X11Pasteboard* primary = edits_->primary();
  const auto text = clipboard.stringForType(NSPasteboardTypeString);
  if (!primary || !text)
    return;
  gtk::PrimaryLoan loan(*primary, *text, [primary] { primary->letGo(); });
  // Refused, the keys would paste what the user selected last.
  if (!loan.lent())
    return;
  const std::uint64_t before = primary->conversionsServed();
  typeStrokesLocked(paste.keys);
  primary->waitForConversionsServed(before, toMilliseconds(kPasteReadWait));
}

std::optional<X11KeyboardEvents::Aim> X11KeyboardEvents::aimAtLocked(pid_t pid) {
  // Without a window manager nothing can be made active, and the keys would
  // go to whatever window is under the pointer.
  if (!ewmh_->windowManagerRuns())
    return std::nullopt;
  const xcb_window_t target = windowOfLocked(pid);
  if (target == XCB_WINDOW_NONE)
    return std::nullopt;
  if (panelWindow_) {
    const xcb_window_t panel = panelWindow_();
    if (panel != XCB_WINDOW_NONE && panel != target) {
      // Active, and done asking for the focus: a panel still presenting
      // itself would take the focus back from the target mid-chord.
      waitLocked([&] { return isActiveLocked(panel) && !(panelSettling_ && panelSettling_()); },
                 kPanelActivationWait, panel,
                 panelSettling_ ? std::optional(kSettlingRecheck) : std::nullopt);
    }
  }
  const xcb_window_t previous = ewmh_->activeWindow();
  if (!isActiveLocked(target) && !activateLocked(target, kTargetActivationWait))
    return std::nullopt;
  return Aim{pid, target, previous == target ? xcb_window_t{XCB_WINDOW_NONE} : previous};
}

void X11KeyboardEvents::restoreFocusLocked(const Aim& aim) {
  if (aim.previous == XCB_WINDOW_NONE)
    return;
  // A window that went away meanwhile cannot take the focus back.
  XcbReply<xcb_get_window_attributes_reply_t> attributes(xcb_get_window_attributes_reply(
      connection_->get(), xcb_get_window_attributes(connection_->get(), aim.previous), nullptr));
  if (!attributes)
    return;
  activateLocked(aim.previous, kFocusReturnWait);
}

// Typing --------------------------------------------------------------------------

void X11KeyboardEvents::settleHeldKeysLocked() {
  xcb_connection_t* c = connection_->get();
  auto othersDown = [&] {
    std::vector<xcb_keycode_t> others;
    XcbReply<xcb_query_keymap_reply_t> reply(
        xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
    if (!reply)
      return others;
    for (xcb_keycode_t keycode : keysDown(std::span<const std::uint8_t, 32>(reply->keys))) {
      const bool ours = pressedModifiers_.count(keycode) ||
                        std::any_of(pressedKeys_.begin(), pressedKeys_.end(),
                                    [&](const auto& entry) { return entry.second == keycode; });
      if (!ours)
        others.push_back(keycode);
    }
    return others;
  };
  waitLocked([&] { return othersDown().empty(); }, kHeldKeysWait, XCB_WINDOW_NONE, kHeldKeysPoll);
  for (xcb_keycode_t keycode : othersDown())
    fakeKeyLocked(XCB_KEY_RELEASE, keycode);
}

void X11KeyboardEvents::typeLocked(const KeyEvent& event) {
  xcb_connection_t* c = connection_->get();
  const KeyboardMapping keyboard = KeyboardMapping::query(c);
  const ModifierMapping modifiers = ModifierMapping::query(c);
  const auto expressible =
      modifierKeysFor(modifiersForEventFlags(event.flags), modifiers, keyboard);
  const std::vector<xcb_keycode_t> modifierKeys =
      expressible.value_or(std::vector<xcb_keycode_t>{});

  if (event.keyDown) {
    const auto keysym = keysymForVirtualKey(event.virtualKey);
    const auto keycode = keysym ? keyboard.keycodeOf(*keysym) : std::nullopt;
    // A key this keyboard lacks, or a modifier no key sets, is not replaced
    // by something else.
    if (!keycode || !expressible || pressedKeys_.count(event.virtualKey))
      return;
    for (xcb_keycode_t modifier : modifierKeys) {
      if (!pressedModifiers_.count(modifier) && fakeKeyLocked(XCB_KEY_PRESS, modifier))
        pressedModifiers_.insert(modifier);
    }
    if (fakeKeyLocked(XCB_KEY_PRESS, *keycode))
      pressedKeys_.emplace(event.virtualKey, *keycode);
    return;
  }

  if (auto it = pressedKeys_.find(event.virtualKey); it != pressedKeys_.end()) {
    fakeKeyLocked(XCB_KEY_RELEASE, it->second);
    pressedKeys_.erase(it);
  }
  for (auto it = modifierKeys.rbegin(); it != modifierKeys.rend(); ++it) {
    if (pressedModifiers_.erase(*it))
      fakeKeyLocked(XCB_KEY_RELEASE, *it);
  }
  // A modifier with no key left to modify has done its work, whatever flags
  // the key-up carried.
  if (pressedKeys_.empty())
    releaseOursLocked();
}

void X11KeyboardEvents::typeStrokesLocked(const std::vector<gtk::KeyStroke>& strokes) {
  xcb_connection_t* c = connection_->get();
  const KeyboardMapping keyboard = KeyboardMapping::query(c);
  const ModifierMapping modifiers = ModifierMapping::query(c);
  for (const gtk::KeyStroke& stroke : strokes) {
    const auto key = keyboard.typingKeyOf(stroke.keysym);
    if (!key)
      continue;
    const std::uint16_t mask = stroke.modifiers | (key->shift ? gtk::kShiftMask : 0);
    const auto modifierKeys = modifierKeysFor(mask, modifiers, keyboard);
    if (!modifierKeys)
      continue;
    for (xcb_keycode_t modifier : *modifierKeys)
      fakeKeyLocked(XCB_KEY_PRESS, modifier);
    fakeKeyLocked(XCB_KEY_PRESS, key->keycode);
    fakeKeyLocked(XCB_KEY_RELEASE, key->keycode);
    for (auto it = modifierKeys->rbegin(); it != modifierKeys->rend(); ++it)
      fakeKeyLocked(XCB_KEY_RELEASE, *it);
  }
}

bool X11KeyboardEvents::fakeKeyLocked(std::uint8_t type, xcb_keycode_t keycode) {
  xcb_connection_t* c = connection_->get();
  return connection_->succeeded(
      xcb_test_fake_input_checked(c, type, keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0));
}

void X11KeyboardEvents::releaseOursLocked() {
  if (!connection_ || !connection_->alive()) {
    pressedKeys_.clear();
    pressedModifiers_.clear();
    return;
  }
  for (const auto& [virtualKey, keycode] : pressedKeys_)
    fakeKeyLocked(XCB_KEY_RELEASE, keycode);
  pressedKeys_.clear();
  for (xcb_keycode_t keycode : pressedModifiers_)
    fakeKeyLocked(XCB_KEY_RELEASE, keycode);
  pressedModifiers_.clear();
}

CGEventFlags X11KeyboardEvents::heldFlagsLocked() {
  XcbConnection* connection = connectionLocked();
  if (!connection)
    return 0;
  xcb_connection_t* c = connection->get();
  XcbReply<xcb_query_keymap_reply_t> keymap(
      xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
  if (!keymap)
    return 0;
  const ModifierMapping modifiers = ModifierMapping::query(c);
  std::uint16_t mask = 0;
  for (xcb_keycode_t keycode : keysDown(std::span<const std::uint8_t, 32>(keymap->keys)))
    mask |= modifiers.modifierOf(keycode);
  return eventFlagsForModifiers(mask);
}

// Windows -------------------------------------------------------------------------

XcbConnection* X11KeyboardEvents::connectionLocked() {
  if (!connection_ || !connection_->alive()) {
    // Whatever was pressed or aimed at went with the old connection.
    ewmh_.reset();
    connection_.reset();
    timeWindow_ = XCB_WINDOW_NONE;
    pressedKeys_.clear();
    pressedModifiers_.clear();
    aim_.reset();
    connection_ = XcbConnection::open(displayName_, nullptr);
    if (!connection_)
      return nullptr;
    ewmh_ = std::make_unique<Ewmh>(connection_->get(), connection_->root());
  }
  // Typing needs XTEST. XCB asks the server once per connection.
  const xcb_query_extension_reply_t* xtest =
      xcb_get_extension_data(connection_->get(), &xcb_test_id);
  return xtest && xtest->present ? connection_.get() : nullptr;
}

xcb_window_t X11KeyboardEvents::windowOfLocked(pid_t pid) {
  const auto clients = ewmh_->clients();
  if (!clients)
    return XCB_WINDOW_NONE;
  std::vector<xcb_window_t> windows;
  for (const auto& client : *clients) {
    if (client.pid == pid)
      windows.push_back(client.window);
  }
  return activationOrder_->windowToActivate(windows);
}

bool X11KeyboardEvents::isActiveLocked(xcb_window_t window) {
  if (window == XCB_WINDOW_NONE || ewmh_->activeWindow() != window)
    return false;
  // The window manager may announce the window before the input focus, which
  // is what the keys follow, has arrived there.
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus)
    return false;
  xcb_window_t current = focus->focus;
  for (int depth = 0; depth < kMaximumFocusDepth; ++depth) {
    if (current == window)
      return true;
    if (current == XCB_WINDOW_NONE || current == XCB_INPUT_FOCUS_POINTER_ROOT ||
        current == connection_->root()) {
      return false;
    }
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr));
    if (!tree)
      return false;
    current = tree->parent;
  }
  return false;
}

bool X11KeyboardEvents::activateLocked(xcb_window_t window, Seconds bound) {
  ewmh_->requestActivation(window, serverTimeLocked().value_or(XCB_CURRENT_TIME));
  return waitLocked([&] { return isActiveLocked(window); }, bound, window, std::nullopt);
}

std::optional<xcb_timestamp_t> X11KeyboardEvents::serverTimeLocked() {
  xcb_connection_t* c = connection_->get();
  if (timeWindow_ == XCB_WINDOW_NONE) {
    const xcb_window_t window = xcb_generate_id(c);
    const std::uint32_t eventMask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    if (!connection_->succeeded(xcb_create_window_checked(
            c, XCB_COPY_FROM_PARENT, window, connection_->root(), -1, -1, 1, 1, 0,
            XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, &eventMask))) {
      return std::nullopt;
    }
    timeWindow_ = window;
  }
  // Other events read on the way only woke waits, which read the state
  // afresh.
  return connection_->serverTime(timeWindow_, connection_->atom("_LUMIVANE_SERVER_TIME"), nullptr);
}

void X11KeyboardEvents::discardEventsLocked() {
  // Events only wake the waits, which read the state afresh; mapping changes
  // are read afresh for every key.
  while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(connection_->get())}) {
  }
}

bool X11KeyboardEvents::waitLocked(const std::function<bool()>& condition,
                                   Seconds bound,
                                   xcb_window_t watched,
                                   std::optional<Seconds> recheck) {
  xcb_connection_t* c = connection_->get();
  // The server's news is asked for only while waiting: the root's property
  // changes tell of a new active window, the watched window's focus changes
  // of the keyboard arriving there.
  auto select = [&](bool on) {
    if (watched == XCB_WINDOW_NONE)
      return;
    const std::uint32_t rootMask = on ? XCB_EVENT_MASK_PROPERTY_CHANGE : 0;
    const std::uint32_t windowMask = on ? XCB_EVENT_MASK_FOCUS_CHANGE : 0;
    xcb_change_window_attributes(c, connection_->root(), XCB_CW_EVENT_MASK, &rootMask);
    // A window that has gone answers with an error, read as an event here.
    xcb_change_window_attributes(c, watched, XCB_CW_EVENT_MASK, &windowMask);
    xcb_flush(c);
  };
  select(true);
  const auto deadline = Clock::now() + toClock(bound);
  bool held = false;
  for (;;) {
    discardEventsLocked();
    if (condition()) {
      held = true;
      break;
    }
    const auto now = Clock::now();
    if (now >= deadline || !connection_->alive())
      break;
    // News that came during the condition's round trips is queued already.
    if (XcbReply<xcb_generic_event_t> queued{xcb_poll_for_queued_event(c)})
      continue;
    auto left = deadline - now;
    if (recheck)
      left = std::min(left, toClock(*recheck));
    pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&ready, 1, static_cast<int>(std::chrono::ceil<std::chrono::milliseconds>(left).count()));
  }
  select(false);
  return held;
}

}  // namespace lumivane::platform::x11
