#include "platform/x11/x11_selection.h"

#include <poll.h>
#include <xcb/xfixes.h>

#include <cerrno>

namespace lumivane::platform::x11 {

std::unique_ptr<SelectionWindow> SelectionWindow::open(const std::string& displayName,
                                                       std::string* error) {
  auto connection = XcbConnection::open(displayName, error);
  if (!connection)
    return nullptr;
  xcb_connection_t* c = connection->get();
  const xcb_window_t window = xcb_generate_id(c);
  // Input-only and never mapped: nothing to see, nothing a window manager
  // manages, but it can own selections and carry properties.
  const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  auto cookie =
      xcb_create_window_checked(c, XCB_COPY_FROM_PARENT, window, connection->root(), -10, -10, 1, 1,
                                0, XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                                XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  if (!connection->succeeded(cookie)) {
    if (error)
      *error = "cannot make the clipboard's window";
    return nullptr;
  }
  return std::make_unique<SelectionWindow>(std::move(connection), window);
}

SelectionWindow::SelectionWindow(std::unique_ptr<XcbConnection> connection, xcb_window_t window)
    : connection_(std::move(connection)), window_(window) {
  timeProperty_ = connection_->atom("_LUMIVANE_TIME");
}

// The server destroys the window with the connection; writing a request to
// destroy it could meet a server that has gone, and a broken pipe.
SelectionWindow::~SelectionWindow() = default;

std::optional<std::uint8_t> SelectionWindow::watchOwner(xcb_atom_t selection) {
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(get(), &xcb_xfixes_id);
  if (!extension || !extension->present)
    return std::nullopt;
  // The extension answers nothing before its version has been asked.
  XcbReply<xcb_xfixes_query_version_reply_t> version(xcb_xfixes_query_version_reply(
      get(), xcb_xfixes_query_version(get(), XCB_XFIXES_MAJOR_VERSION, XCB_XFIXES_MINOR_VERSION),
      nullptr));
  if (!version)
    return std::nullopt;
  auto cookie = xcb_xfixes_select_selection_input_checked(
      get(), window_, selection,
      XCB_XFIXES_SELECTION_EVENT_MASK_SET_SELECTION_OWNER |
          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_WINDOW_DESTROY |
          XCB_XFIXES_SELECTION_EVENT_MASK_SELECTION_CLIENT_CLOSE);
  if (!connection_->succeeded(cookie))
    return std::nullopt;
  return static_cast<std::uint8_t>(extension->first_event + XCB_XFIXES_SELECTION_NOTIFY);
}

std::optional<xcb_timestamp_t> SelectionWindow::serverTime() {
  // What comes before the report is set aside for nextEvent(), in order.
  return connection_->serverTime(window_, timeProperty_, &setAside_);
}

bool SelectionWindow::claim(xcb_atom_t selection,
                            xcb_timestamp_t time,
                            std::uint32_t* confirmedAt) {
  xcb_set_selection_owner(get(), window_, selection, time);
  const auto cookie = xcb_get_selection_owner(get(), selection);
  if (confirmedAt)
    *confirmedAt = cookie.sequence;
  XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(get(), cookie, nullptr));
  return reply && reply->owner == window_;
}

xcb_window_t SelectionWindow::ownerOf(xcb_atom_t selection) {
  XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(get(), xcb_get_selection_owner(get(), selection), nullptr));
  return reply ? reply->owner : xcb_window_t{XCB_WINDOW_NONE};
}

XcbReply<xcb_generic_event_t> SelectionWindow::nextEvent() {
  if (!setAside_.empty()) {
    XcbReply<xcb_generic_event_t> event = std::move(setAside_.front());
    setAside_.pop_front();
    return event;
  }
  return XcbReply<xcb_generic_event_t>(xcb_poll_for_event(get()));
}

void SelectionWindow::wait(std::optional<SteadyClock::time_point> deadline, int wakeFd) {
  xcb_flush(get());
  // Sending may have read events in while the socket was busy; those would
  // not wake the poll below.
  if (XcbReply<xcb_generic_event_t> queued(xcb_poll_for_queued_event(get())); queued)
    setAside_.push_back(std::move(queued));
  if (!setAside_.empty() || !alive())
    return;
  int timeout = -1;
  if (deadline) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(*deadline - SteadyClock::now());
    timeout = static_cast<int>(std::clamp<std::int64_t>(left.count(), 0, 60'000));
  }
  pollfd fds[2] = {{xcb_get_file_descriptor(get()), POLLIN, 0}, {wakeFd, POLLIN, 0}};
  const int ready = ::poll(fds, wakeFd >= 0 ? 2 : 1, timeout);
  (void)ready;  // Woken, timed out or interrupted: the caller looks again either way.
}

}  // namespace lumivane::platform::x11
