#pragma once

#include <xcb/xcb.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_connection.h"

namespace lumivane::test_support {

// What a user (or another client) can see of windows on a test's display,
// read over a connection of the test's own. X errors come back as absent
// values, never through a process-wide handler.
class XProbe {
 public:
  explicit XProbe(const std::string& display)
      : connection_(platform::x11::XcbConnection::open(display, nullptr)) {}

  bool ok() const { return connection_ && connection_->alive(); }
  xcb_window_t root() const { return connection_->root(); }

  std::vector<std::uint32_t> values32(xcb_window_t window, const char* property) {
    auto value = connection_->getProperty(window, connection_->atom(property));
    return value ? value->values32() : std::vector<std::uint32_t>{};
  }
  std::optional<std::uint32_t> cardinal(xcb_window_t window, const char* property) {
    auto values = values32(window, property);
    if (values.empty())
      return std::nullopt;
    return values.front();
  }
  // The names of the atoms an atom-list property holds (_NET_WM_STATE).
  std::vector<std::string> atomNames(xcb_window_t window, const char* property) {
    std::vector<std::string> names;
    for (auto atom : values32(window, property))
      names.push_back(connection_->atomName(atom));
    return names;
  }
  bool hasAtom(xcb_window_t window, const char* property, const std::string& name) {
    for (const auto& n : atomNames(window, property)) {
      if (n == name)
        return true;
    }
    return false;
  }
  std::string text(xcb_window_t window, const char* property) {
    auto value = connection_->getProperty(window, connection_->atom(property));
    return value ? std::string(value->data.begin(), value->data.end()) : std::string();
  }
  xcb_window_t activeWindow() {
    return cardinal(root(), "_NET_ACTIVE_WINDOW").value_or(XCB_WINDOW_NONE);
  }

  struct Rect {
    int x = 0;
    int y = 0;
    int width = 0;
    int height = 0;
  };
  // A window's area in root coordinates.
  std::optional<Rect> rootGeometry(xcb_window_t window) {
    auto* c = connection_->get();
    platform::x11::XcbReply<xcb_get_geometry_reply_t> geometry(
        xcb_get_geometry_reply(c, xcb_get_geometry(c, window), nullptr));
    if (!geometry)
      return std::nullopt;
    platform::x11::XcbReply<xcb_translate_coordinates_reply_t> origin(
        xcb_translate_coordinates_reply(c, xcb_translate_coordinates(c, window, root(), 0, 0),
                                        nullptr));
    if (!origin)
      return std::nullopt;
    return Rect{origin->dst_x, origin->dst_y, geometry->width, geometry->height};
  }
  // The owner of a selection (a system tray's manager selection).
  xcb_window_t selectionOwner(const char* selection) {
    auto* c = connection_->get();
    platform::x11::XcbReply<xcb_get_selection_owner_reply_t> reply(xcb_get_selection_owner_reply(
        c, xcb_get_selection_owner(c, connection_->atom(selection)), nullptr));
    return reply ? reply->owner : static_cast<xcb_window_t>(XCB_WINDOW_NONE);
  }
  bool viewable(xcb_window_t window) {
    auto* c = connection_->get();
    platform::x11::XcbReply<xcb_get_window_attributes_reply_t> attributes(
        xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), nullptr));
    return attributes && attributes->map_state == XCB_MAP_STATE_VIEWABLE;
  }
  // A plain window of another client, mapped.
  xcb_window_t createWindow(int x, int y, int width, int height) {
    auto* c = connection_->get();
    const xcb_window_t window = xcb_generate_id(c);
    xcb_create_window(c, XCB_COPY_FROM_PARENT, window, root(), static_cast<std::int16_t>(x),
                      static_cast<std::int16_t>(y), static_cast<std::uint16_t>(width),
                      static_cast<std::uint16_t>(height), 0, XCB_WINDOW_CLASS_INPUT_OUTPUT,
                      connection_->screen()->root_visual, 0, nullptr);
    xcb_map_window(c, window);
    xcb_flush(c);
    return window;
  }
  // The server's time now, from the stamp of a property change on `window`
  // (one of this probe's own).
  std::optional<std::uint32_t> serverTime(xcb_window_t window) {
    auto* c = connection_->get();
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, window, XCB_CW_EVENT_MASK, &mask);
    const xcb_atom_t stamp = connection_->atom("LUMIVANE_TEST_STAMP");
    xcb_change_property(c, XCB_PROP_MODE_APPEND, window, stamp, XCB_ATOM_STRING, 8, 0, nullptr);
    xcb_flush(c);
    for (;;) {
      platform::x11::XcbReply<xcb_generic_event_t> event(xcb_wait_for_event(c));
      if (!event)
        return std::nullopt;
      if ((event->response_type & 0x7f) == XCB_PROPERTY_NOTIFY) {
        auto* notify = reinterpret_cast<xcb_property_notify_event_t*>(event.get());
        if (notify->window == window && notify->atom == stamp)
          return notify->time;
      }
    }
  }
  // Says the user last worked in `window` at `time`, as a toolkit does on
  // each input event (what a window manager weighs before letting another
  // window take the focus).
  void setUserTime(xcb_window_t window, std::uint32_t time) {
    xcb_change_property(connection_->get(), XCB_PROP_MODE_REPLACE, window,
                        connection_->atom("_NET_WM_USER_TIME"), XCB_ATOM_CARDINAL, 32, 1, &time);
    xcb_flush(connection_->get());
  }
  void destroyWindow(xcb_window_t window) {
    xcb_destroy_window(connection_->get(), window);
    xcb_flush(connection_->get());
  }
  // Asks the window manager to make `window` the active one, as a pager
  // would when the user picks it.
  void requestActivation(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = connection_->atom("_NET_ACTIVE_WINDOW");
    event.data.data32[0] = 2;  // From a pager: obeyed whatever the time.
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_->get(), 0, root(),
                   XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_->get());
  }
  // What a window manager sends when the user clicks a window's close button.
  void sendDeleteWindow(xcb_window_t window) {
    xcb_client_message_event_t event{};
    event.response_type = XCB_CLIENT_MESSAGE;
    event.format = 32;
    event.window = window;
    event.type = connection_->atom("WM_PROTOCOLS");
    event.data.data32[0] = connection_->atom("WM_DELETE_WINDOW");
    event.data.data32[1] = XCB_CURRENT_TIME;
    xcb_send_event(connection_->get(), 0, window, XCB_EVENT_MASK_NO_EVENT,
                   reinterpret_cast<const char*>(&event));
    xcb_flush(connection_->get());
  }

 private:
  std::unique_ptr<platform::x11::XcbConnection> connection_;
};

}  // namespace lumivane::test_support
