#include "platform/x11/x11_ewmh.h"

#include "platform/x11/x11_connection.h"

namespace lumivane::platform::x11 {

Ewmh::Ewmh(xcb_connection_t* connection, xcb_window_t root) {
  xcb_intern_atom_cookie_t* cookies = xcb_ewmh_init_atoms(connection, &ewmh_);
  // The replies free the cookies, and on failure what the atoms were kept in.
  ready_ = cookies && xcb_ewmh_init_atoms_replies(&ewmh_, cookies, nullptr);
  for (int i = 0; ready_ && i < ewmh_.nb_screens; ++i) {
    if (ewmh_.screens[i]->root == root)
      screen_ = i;
  }
}

Ewmh::~Ewmh() {
  if (ready_)
    xcb_ewmh_connection_wipe(&ewmh_);
}

bool Ewmh::windowManagerRuns() {
  if (!ready_)
    return false;
  const xcb_window_t root = ewmh_.screens[screen_]->root;
  xcb_window_t check = XCB_WINDOW_NONE;
  if (!xcb_ewmh_get_supporting_wm_check_reply(
          &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, root), &check, nullptr) ||
      check == XCB_WINDOW_NONE) {
    return false;
  }
  xcb_window_t named = XCB_WINDOW_NONE;
  return xcb_ewmh_get_supporting_wm_check_reply(
             &ewmh_, xcb_ewmh_get_supporting_wm_check(&ewmh_, check), &named, nullptr) &&
         named == check;
}

xcb_window_t Ewmh::activeWindow() {
  xcb_window_t active = XCB_WINDOW_NONE;
  if (!ready_ || !xcb_ewmh_get_active_window_reply(
                     &ewmh_, xcb_ewmh_get_active_window(&ewmh_, screen_), &active, nullptr)) {
    return XCB_WINDOW_NONE;
  }
  return active;
}

std::optional<std::vector<Ewmh::Client>> Ewmh::clients() {
  if (!ready_)
    return std::nullopt;
  // Bottom to top where the window manager publishes the stacking order,
  // otherwise in the order it took the windows on.
  xcb_ewmh_get_windows_reply_t list{};
  if (!xcb_ewmh_get_client_list_stacking_reply(
          &ewmh_, xcb_ewmh_get_client_list_stacking(&ewmh_, screen_), &list, nullptr) &&
      !xcb_ewmh_get_client_list_reply(&ewmh_, xcb_ewmh_get_client_list(&ewmh_, screen_), &list,
                                      nullptr)) {
    return std::nullopt;
  }
  const std::vector<xcb_window_t> windows(list.windows, list.windows + list.windows_len);
  xcb_ewmh_get_windows_reply_wipe(&list);
  const auto pids = processesOf(windows);
  std::vector<Client> clients;
  for (std::size_t i = 0; i < windows.size(); ++i) {
    if (pids[i])
      clients.push_back(Client{windows[i], *pids[i]});
  }
  return clients;
}

std::optional<pid_t> Ewmh::processOf(xcb_window_t window) {
  if (window == XCB_WINDOW_NONE)
    return std::nullopt;
  return processesOf({window}).front();
}

std::string Ewmh::classOf(xcb_window_t window) {
  if (window == XCB_WINDOW_NONE)
    return {};
  return XcbConnection::classOf(ewmh_.connection, window).className;
}

std::vector<std::optional<pid_t>> Ewmh::processesOf(const std::vector<xcb_window_t>& windows) {
  std::vector<std::optional<pid_t>> pids(windows.size());
  if (!ready_)
    return pids;
  // Every question first, then every answer: one round trip for them all.
  std::vector<xcb_get_property_cookie_t> cookies;
  cookies.reserve(windows.size());
  for (xcb_window_t window : windows)
    cookies.push_back(xcb_ewmh_get_wm_pid(&ewmh_, window));
  for (std::size_t i = 0; i < windows.size(); ++i) {
    std::uint32_t pid = 0;
    xcb_generic_error_t* rawError = nullptr;
    const bool named = xcb_ewmh_get_wm_pid_reply(&ewmh_, cookies[i], &pid, &rawError);
    XcbReply<xcb_generic_error_t> error(rawError);
    if (error)
      continue;  // The window is gone.
    if (named && pid > 0) {
      pids[i] = static_cast<pid_t>(pid);
      continue;
    }
    pids[i] = XcbConnection::processOfClient(ewmh_.connection, windows[i]).value_or(0);
  }
  return pids;
}

std::optional<xcb_ewmh_get_extents_reply_t> Ewmh::frameExtents(xcb_window_t window) {
  xcb_ewmh_get_extents_reply_t extents{};
  if (!ready_ || !xcb_ewmh_get_frame_extents_reply(
                     &ewmh_, xcb_ewmh_get_frame_extents(&ewmh_, window), &extents, nullptr)) {
    return std::nullopt;
  }
  return extents;
}

void Ewmh::requestActivation(xcb_window_t window, xcb_timestamp_t time) {
  if (!ready_)
    return;
  // From a pager: the window manager weighs the request as the user's own
  // rather than as an application stealing the focus.
  xcb_ewmh_request_change_active_window(&ewmh_, screen_, window, XCB_EWMH_CLIENT_SOURCE_TYPE_OTHER,
                                        time, activeWindow());
  xcb_flush(ewmh_.connection);
}

void Ewmh::requestFrameExtents(xcb_window_t window) {
  if (!ready_)
    return;
  xcb_ewmh_request_frame_extents(&ewmh_, screen_, window);
  xcb_flush(ewmh_.connection);
}

}  // namespace lumivane::platform::x11
