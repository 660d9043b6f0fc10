#include "platform/x11/x11_connection.h"

#include <xcb/res.h>

#include <algorithm>
#include <cstring>

namespace lumivane::platform::x11 {

std::vector<std::uint32_t> XProperty::values32() const {
  std::vector<std::uint32_t> values;
  // An empty property has no data to copy from (memcpy from null is undefined
  // even for no bytes).
  if (format != 32 || data.size() < 4)
    return values;
  values.resize(data.size() / 4);
  std::memcpy(values.data(), data.data(), values.size() * 4);
  return values;
}

std::unique_ptr<XcbConnection> XcbConnection::open(const std::string& displayName,
                                                   std::string* error) {
  int screenNumber = 0;
  xcb_connection_t* connection =
      xcb_connect(displayName.empty() ? nullptr : displayName.c_str(), &screenNumber);
  if (!connection || xcb_connection_has_error(connection)) {
    if (connection)
      xcb_disconnect(connection);
    if (error) {
      *error = "cannot connect to the X display " +
               (displayName.empty() ? std::string("$DISPLAY") : displayName);
    }
    return nullptr;
  }
  auto opened = std::make_unique<XcbConnection>(Key{}, connection, screenNumber);
  if (!opened->screen_) {
    if (error)
      *error = "the X display has no screen " + std::to_string(screenNumber);
    return nullptr;
  }
  return opened;
}

XcbConnection::XcbConnection(Key, xcb_connection_t* connection, int screenNumber)
    : connection_(connection) {
  xcb_screen_iterator_t it = xcb_setup_roots_iterator(xcb_get_setup(connection_));
  for (int i = 0; it.rem; ++i, xcb_screen_next(&it)) {
    if (i == screenNumber) {
      screen_ = it.data;
      root_ = it.data->root;
      break;
    }
  }
  // Big requests raise the limit from 256 KiB to several MiB where offered.
  maximumRequestBytes_ = static_cast<std::size_t>(xcb_get_maximum_request_length(connection_)) * 4;
}

XcbConnection::~XcbConnection() {
  xcb_disconnect(connection_);
}

xcb_atom_t XcbConnection::atom(std::string_view name) {
  if (auto it = atoms_.find(name); it != atoms_.end())
    return it->second;
  auto cookie =
      xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(name.size()), name.data());
  XcbReply<xcb_intern_atom_reply_t> reply(xcb_intern_atom_reply(connection_, cookie, nullptr));
  if (!reply)
    return XCB_ATOM_NONE;
  atoms_.emplace(std::string(name), reply->atom);
  return reply->atom;
}

std::string XcbConnection::atomName(xcb_atom_t atom) {
  if (atom == XCB_ATOM_NONE)
    return {};
  XcbReply<xcb_get_atom_name_reply_t> reply(
      xcb_get_atom_name_reply(connection_, xcb_get_atom_name(connection_, atom), nullptr));
  if (!reply)
    return {};
  return std::string(xcb_get_atom_name_name(reply.get()),
                     static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
}

std::vector<xcb_atom_t> XcbConnection::atoms(const std::vector<std::string>& names) {
  std::vector<xcb_atom_t> result(names.size(), XCB_ATOM_NONE);
  std::vector<std::optional<xcb_intern_atom_cookie_t>> cookies(names.size());
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (auto it = atoms_.find(names[i]); it != atoms_.end()) {
      result[i] = it->second;
    } else {
      cookies[i] = xcb_intern_atom(connection_, 0, static_cast<std::uint16_t>(names[i].size()),
                                   names[i].data());
    }
  }
  for (std::size_t i = 0; i < names.size(); ++i) {
    if (!cookies[i])
      continue;
    XcbReply<xcb_intern_atom_reply_t> reply(
        xcb_intern_atom_reply(connection_, *cookies[i], nullptr));
    if (!reply)
      continue;
    result[i] = reply->atom;
    atoms_.emplace(names[i], reply->atom);
  }
  return result;
}

std::vector<std::string> XcbConnection::atomNames(const std::vector<xcb_atom_t>& atoms) {
  std::vector<xcb_get_atom_name_cookie_t> cookies;
  cookies.reserve(atoms.size());
  for (xcb_atom_t atom : atoms)
    cookies.push_back(xcb_get_atom_name(connection_, atom));
  std::vector<std::string> names;
  names.reserve(atoms.size());
  for (std::size_t i = 0; i < atoms.size(); ++i) {
    XcbReply<xcb_generic_error_t> error;
    xcb_generic_error_t* rawError = nullptr;
    XcbReply<xcb_get_atom_name_reply_t> reply(
        xcb_get_atom_name_reply(connection_, cookies[i], &rawError));
    error.reset(rawError);
    if (!reply || atoms[i] == XCB_ATOM_NONE) {
      names.emplace_back();
      continue;
    }
    names.emplace_back(xcb_get_atom_name_name(reply.get()),
                       static_cast<std::size_t>(xcb_get_atom_name_name_length(reply.get())));
  }
  return names;
}

std::optional<XProperty> XcbConnection::getProperty(xcb_window_t window,
                                                    xcb_atom_t property,
                                                    bool remove,
                                                    xcb_atom_t type) {
  XProperty result;
  const auto read = readProperty(window, property, remove, type, [&](PropertyPiece& piece) {
    result.type = piece->type;
    result.format = piece->format;
    const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(piece.get()));
    result.data.insert(result.data.end(), value,
                       value + xcb_get_property_value_length(piece.get()));
    return true;
  });
  if (read != PropertyRead::whole)
    return std::nullopt;
  return result;
}

XcbConnection::PropertyRead XcbConnection::readProperty(
    xcb_window_t window,
    xcb_atom_t property,
    bool remove,
    xcb_atom_t type,
    const std::function<bool(PropertyPiece& piece)>& piece) {
  // The offset and length count 32-bit units: pieces of 4 MiB.
  constexpr std::uint32_t kPieceUnits = 1 << 20;
  const auto endEarly = [&](PropertyRead outcome) {
    if (remove)
      xcb_delete_property(connection_, window, property);
    return outcome;
  };
  std::uint32_t offset = 0;
  for (;;) {
    PropertyPiece reply(xcb_get_property_reply(
        connection_,
        xcb_get_property(connection_, remove, window, property, type, offset, kPieceUnits),
        nullptr));
    if (!reply)
      return PropertyRead::failed;
    if (reply->type == XCB_ATOM_NONE)
      return offset == 0 ? PropertyRead::missing : PropertyRead::failed;
    const auto bytes = static_cast<std::uint32_t>(xcb_get_property_value_length(reply.get()));
    const std::uint32_t after = reply->bytes_after;
    if (!piece(reply))
      return after == 0 ? PropertyRead::stopped : endEarly(PropertyRead::stopped);
    if (after == 0)
      return PropertyRead::whole;
    // Nothing, or not whole units, where more is to come: another type than
    // asked for, or a server that cannot step through it.
    if (bytes == 0 || bytes % 4 != 0)
      return endEarly(PropertyRead::failed);
    offset += bytes / 4;
  }
}

bool XcbConnection::sync() {
  XcbReply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(connection_, xcb_get_input_focus(connection_), nullptr));
  return reply != nullptr;
}

std::optional<xcb_timestamp_t> XcbConnection::serverTime(xcb_window_t window,
                                                         xcb_atom_t property,
                                                         XcbEvents* setAside) {
  xcb_change_property(connection_, XCB_PROP_MODE_APPEND, window, property, XCB_ATOM_INTEGER, 32, 0,
                      nullptr);
  if (!sync())
    return std::nullopt;
  std::optional<xcb_timestamp_t> time;
  for (;;) {
    XcbReply<xcb_generic_event_t> event(xcb_poll_for_queued_event(connection_));
    if (!event)
      break;
    if (!time && eventKind(*event) == XCB_PROPERTY_NOTIFY && !sentByClient(*event)) {
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(*event);
      if (notify.window == window && notify.atom == property) {
        time = notify.time;
        continue;
      }
    }
    if (setAside)
      setAside->push_back(std::move(event));
  }
  return time;
}

bool XcbConnection::succeeded(xcb_void_cookie_t cookie) {
  XcbReply<xcb_generic_error_t> error(xcb_request_check(connection_, cookie));
  return !error;
}

std::optional<pid_t> XcbConnection::processOfClient(xcb_window_t window) {
  return processOfClient(connection_, window);
}

XcbConnection::WindowClass XcbConnection::classOf(xcb_window_t window) {
  return classOf(connection_, window);
}

XcbConnection::WindowClass XcbConnection::classOf(xcb_connection_t* c, xcb_window_t window) {
  WindowClass names;
  // Two strings, each ended by a NUL; a few hundred bytes are plenty.
  XcbReply<xcb_get_property_reply_t> reply(xcb_get_property_reply(
      c, xcb_get_property(c, 0, window, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 0, 256), nullptr));
  if (!reply || reply->format != 8)
    return names;
  const std::string_view value(
      static_cast<const char*>(xcb_get_property_value(reply.get())),
      static_cast<std::size_t>(xcb_get_property_value_length(reply.get())));
  const std::size_t end = std::min(value.find('\0'), value.size());
  names.instance = value.substr(0, end);
  if (end < value.size()) {
    const std::string_view rest = value.substr(end + 1);
    names.className = rest.substr(0, rest.find('\0'));
  }
  return names;
}

std::optional<pid_t> XcbConnection::processOfClient(xcb_connection_t* c, xcb_window_t window) {
  // A request to an extension the server lacks would end the connection. A
  // server older than X-Resource 1.2 answers the query with an error.
  const xcb_query_extension_reply_t* extension = xcb_get_extension_data(c, &xcb_res_id);
  if (!extension || !extension->present)
    return std::nullopt;
  const xcb_res_client_id_spec_t query{window, XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID};
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_res_query_client_ids_reply_t> reply(
      xcb_res_query_client_ids_reply(c, xcb_res_query_client_ids(c, 1, &query), &rawError));
  XcbReply<xcb_generic_error_t> error(rawError);
  if (!reply)
    return std::nullopt;
  for (auto it = xcb_res_query_client_ids_ids_iterator(reply.get()); it.rem;
       xcb_res_client_id_value_next(&it)) {
    // Each value begins with the client id it answers, mask included.
    xcb_res_client_id_spec_t answered{};
    std::memcpy(&answered, it.data, sizeof answered);
    if ((answered.mask & XCB_RES_CLIENT_ID_MASK_LOCAL_CLIENT_PID) != 0 &&
        xcb_res_client_id_value_value_length(it.data) >= 1) {
      return static_cast<pid_t>(xcb_res_client_id_value_value(it.data)[0]);
    }
  }
  return std::nullopt;
}

}  // namespace lumivane::platform::x11
