#include "tests/platform/x11/x_test_user.h"

#include <xcb/xtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <span>

#include "platform/x11/x11_keyboard_mapping.h"

namespace lumivane::test_support {

using platform::x11::KeyboardMapping;
using platform::x11::XcbConnection;
using platform::x11::XcbReply;

XTestUser::XTestUser(const std::string& display) {
  connection_ = XcbConnection::open(display, nullptr);
}

std::optional<xcb_keycode_t> XTestUser::keycodeOf(xcb_keysym_t keysym) {
  return KeyboardMapping::query(connection_->get()).keycodeOf(keysym);
}

bool XTestUser::pressKeycode(xcb_keycode_t keycode) {
  return connection_->succeeded(xcb_test_fake_input_checked(
      connection_->get(), XCB_KEY_PRESS, keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0));
}

bool XTestUser::releaseKeycode(xcb_keycode_t keycode) {
  return connection_->succeeded(xcb_test_fake_input_checked(
      connection_->get(), XCB_KEY_RELEASE, keycode, XCB_CURRENT_TIME, XCB_WINDOW_NONE, 0, 0, 0));
}

bool XTestUser::press(xcb_keysym_t keysym) {
  auto keycode = keycodeOf(keysym);
  return keycode && pressKeycode(*keycode);
}

bool XTestUser::release(xcb_keysym_t keysym) {
  auto keycode = keycodeOf(keysym);
  return keycode && releaseKeycode(*keycode);
}

bool XTestUser::chord(const std::vector<xcb_keysym_t>& modifiers, xcb_keysym_t keysym) {
  bool ok = true;
  for (xcb_keysym_t modifier : modifiers)
    ok = press(modifier) && ok;
  ok = press(keysym) && ok;
  ok = release(keysym) && ok;
  for (auto it = modifiers.rbegin(); it != modifiers.rend(); ++it)
    ok = release(*it) && ok;
  return ok;
}

std::vector<xcb_keycode_t> XTestUser::keysDown() {
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_query_keymap_reply_t> reply(xcb_query_keymap_reply(c, xcb_query_keymap(c), nullptr));
  if (!reply)
    return {};
  return platform::x11::keysDown(std::span<const std::uint8_t, 32>(reply->keys));
}

std::uint16_t XTestUser::modifierState() {
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_query_pointer_reply_t> reply(
      xcb_query_pointer_reply(c, xcb_query_pointer(c, connection_->root()), nullptr));
  return reply ? static_cast<std::uint16_t>(reply->mask & platform::x11::kCoreModifierBits) : 0;
}

xcb_window_t XTestUser::activeWindow() {
  auto active = connection_->getProperty(
      connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"), false, XCB_ATOM_WINDOW);
  if (!active || active->values32().empty())
    return XCB_WINDOW_NONE;
  return active->values32()[0];
}

bool XTestUser::isActive(xcb_window_t window) {
  if (activeWindow() != window)
    return false;
  xcb_connection_t* c = connection_->get();
  XcbReply<xcb_get_input_focus_reply_t> focus(
      xcb_get_input_focus_reply(c, xcb_get_input_focus(c), nullptr));
  if (!focus)
    return false;
  // The focus may be on a child the toolkit keeps for it.
  xcb_window_t current = focus->focus;
  for (int depth = 0; depth < 32 && current > XCB_INPUT_FOCUS_POINTER_ROOT; ++depth) {
    if (current == window)
      return true;
    XcbReply<xcb_query_tree_reply_t> tree(
        xcb_query_tree_reply(c, xcb_query_tree(c, current), nullptr));
    if (!tree)
      return false;
    current = tree->parent;
  }
  return false;
}

bool XTestUser::activate(xcb_window_t window) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = connection_->atom("_NET_ACTIVE_WINDOW");
  message.data.data32[0] = 2;
  message.data.data32[1] = XCB_CURRENT_TIME;
  xcb_send_event(connection_->get(), 0, connection_->root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(connection_->get());
  return waitUntil([&] { return isActive(window); });
}

std::optional<xcb_window_t> XTestUser::waitForWindowOf(pid_t pid, double seconds) {
  std::optional<xcb_window_t> found;
  waitUntil(
      [&] {
        auto clients = connection_->getProperty(
            connection_->root(), connection_->atom("_NET_CLIENT_LIST"), false, XCB_ATOM_WINDOW);
        if (!clients)
          return false;
        for (xcb_window_t window : clients->values32()) {
          auto windowPid = connection_->getProperty(window, connection_->atom("_NET_WM_PID"), false,
                                                    XCB_ATOM_CARDINAL);
          if (windowPid && !windowPid->values32().empty() &&
              static_cast<pid_t>(windowPid->values32()[0]) == pid) {
            found = window;
            return true;
          }
        }
        return false;
      },
      seconds);
  return found;
}

// KeyRecorder -------------------------------------------------------------------

namespace {

bool isKeyLine(const std::string& line) {
  return line.rfind("press ", 0) == 0 || line.rfind("release ", 0) == 0 ||
         line.rfind("read", 0) == 0;
}

}  // namespace

KeyRecorder::KeyRecorder(XSession& session, XTestUser& user, std::vector<std::string> arguments)
    : user_(user), process_([&]() -> ChildProcess& {
        std::vector<std::string> argv{LUMIVANE_KEY_RECORDER};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        return session.spawn(std::move(argv), {}, /*pipeInput=*/false, /*pipeOutput=*/true);
      }()) {
  auto line = process_.readLine(30);
  unsigned int window = 0;
  unsigned int second = 0;
  if (!line || std::sscanf(line->c_str(), "ready 0x%x 0x%x", &window, &second) != 2)
    return;
  if (session.hasWindowManager()) {
    const bool managed = waitUntil([&] {
      auto clients = user.connection().getProperty(user.connection().root(),
                                                   user.connection().atom("_NET_CLIENT_LIST"),
                                                   false, XCB_ATOM_WINDOW);
      if (!clients)
        return false;
      const auto windows = clients->values32();
      return std::count(windows.begin(), windows.end(), window) +
                 std::count(windows.begin(), windows.end(), second) ==
             (second ? 2 : 1);
    });
    if (!managed)
      return;
  }
  window_ = window;
  secondWindow_ = second;
}

std::optional<std::vector<std::string>> KeyRecorder::linesBefore(const std::string& sentinel,
                                                                 double seconds) {
  std::vector<std::string> lines;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  for (;;) {
    const double left =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0)
      return std::nullopt;
    auto line = process_.readLine(left);
    if (!line)
      return std::nullopt;
    if (*line == sentinel)
      return lines;
    if (isKeyLine(*line))
      lines.push_back(*line);
  }
}

std::vector<std::string> KeyRecorder::nextLines(std::size_t count, double seconds) {
  std::vector<std::string> lines;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
  while (lines.size() < count) {
    const double left =
        std::chrono::duration<double>(deadline - std::chrono::steady_clock::now()).count();
    if (left <= 0)
      break;
    auto line = process_.readLine(left);
    if (!line)
      break;
    if (isKeyLine(*line))
      lines.push_back(*line);
  }
  return lines;
}

std::optional<std::vector<std::string>> KeyRecorder::linesUpToNow(double seconds) {
  auto& x = user_.connection();
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window_;
  message.type = x.atom("_LUMIVANE_TEST_MARK");
  message.data.data32[0] = static_cast<std::uint32_t>(++marks_);
  // No event mask: the event goes to the client that made the window.
  xcb_send_event(x.get(), 0, window_, XCB_EVENT_MASK_NO_EVENT,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(x.get());
  return linesBefore("mark " + std::to_string(marks_), seconds);
}

}  // namespace lumivane::test_support
