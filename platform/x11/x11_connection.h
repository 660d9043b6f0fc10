#pragma once

#include <sys/types.h>
#include <xcb/xcb.h>

#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace lumivane::platform::x11 {

// Frees what XCB hands back with malloc (replies, errors, events).
struct XcbFree {
  void operator()(void* p) const { std::free(p); }
};
template <typename T>
using XcbReply = std::unique_ptr<T, XcbFree>;
using XcbEvents = std::deque<XcbReply<xcb_generic_event_t>>;

// The kind of an event, without the bit that marks one sent by a client.
inline std::uint8_t eventKind(const xcb_generic_event_t& event) {
  return event.response_type & 0x7f;
}
// Whether a client sent the event (SendEvent) rather than the server.
inline bool sentByClient(const xcb_generic_event_t& event) {
  return (event.response_type & 0x80) != 0;
}

// A window property read whole.
struct XProperty {
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;  // 8, 16 or 32
  std::vector<std::uint8_t> data;
  // The values of a format-32 property (windows, atoms, cardinals).
  std::vector<std::uint32_t> values32() const;
};

// One connection of our own to the X server, used by one thread at a time.
//
// The services that work away from the GTK main loop (the clipboard, the
// synthetic keys) each keep one, so that a worker never touches GTK's
// connection and the main thread never waits for theirs. XCB reports the
// errors of a request to whoever asks for them, so nothing here depends on
// Xlib's process-wide error handler.
class XcbConnection {
 public:
  // Connects to `displayName` ($DISPLAY when empty). Null with `error` set
  // when no server answers.
  static std::unique_ptr<XcbConnection> open(const std::string& displayName, std::string* error);

  // Only open() makes connections; the key keeps the constructor to it.
  class Key {
    friend class XcbConnection;
    Key() = default;
  };
  XcbConnection(Key, xcb_connection_t* connection, int screenNumber);
  ~XcbConnection();
  XcbConnection(const XcbConnection&) = delete;
  XcbConnection& operator=(const XcbConnection&) = delete;

  xcb_connection_t* get() const { return connection_; }
  xcb_window_t root() const { return root_; }
  xcb_screen_t* screen() const { return screen_; }
  // False once the server has closed the connection.
  bool alive() const { return xcb_connection_has_error(connection_) == 0; }

  // The atom of `name`, interned once and remembered.
  xcb_atom_t atom(std::string_view name);
  // The name of `atom`; empty when the server does not know it.
  std::string atomName(xcb_atom_t atom);
  // The same for many at once, in one round trip rather than one each.
  std::vector<xcb_atom_t> atoms(const std::vector<std::string>& names);
  std::vector<std::string> atomNames(const std::vector<xcb_atom_t>& atoms);

  // The whole of a property, read in pieces as long as it is; absent when the
  // window or the property does not exist. `remove` deletes it after reading
  // (the last piece), as a selection requestor does.
  std::optional<XProperty> getProperty(xcb_window_t window,
                                       xcb_atom_t property,
                                       bool remove = false,
                                       xcb_atom_t type = XCB_GET_PROPERTY_TYPE_ANY);

  // How reading a property in pieces ended: read whole; no such property (or
  // window) to begin with; stopped by the reader; or failed: the property
  // went part-way, cannot be stepped through (it is not of `type`), or the
  // connection has gone.
  enum class PropertyRead { whole, missing, stopped, failed };
  using PropertyPiece = XcbReply<xcb_get_property_reply_t>;
  // Reads `property` of `window` in pieces of a few MiB, handing each reply
  // to `piece` in order; `piece` may keep it, and returns false to stop.
  // `remove` deletes the property with its last piece, in the same request
  // (which tells a selection owner sending increments that the piece has been
  // taken), or at once when the read ends before its last piece.
  PropertyRead readProperty(xcb_window_t window,
                            xcb_atom_t property,
                            bool remove,
                            xcb_atom_t type,
                            const std::function<bool(PropertyPiece& piece)>& piece);

  // Waits for a checked request; true when the server accepted it.
  bool succeeded(xcb_void_cookie_t cookie);

  // The server's time now. Appending nothing to `property` of `window` (a
  // window of this connection that selects property changes) changes no
  // value but makes the server report a change, stamped with its time; a
  // round trip after it, the report is queued. Events read on the way that
  // are not the report go to the back of `setAside` in order (are dropped
  // when it is null). Absent when the server does not answer.
  std::optional<xcb_timestamp_t> serverTime(xcb_window_t window,
                                            xcb_atom_t property,
                                            XcbEvents* setAside);
  // Waits for the server to have handled every request sent so far.
  bool sync();

  // The process of the client that made `window`, as the server knows it
  // (X-Resource 1.2): some toolkits set no _NET_WM_PID. Absent when the
  // server cannot tell (no extension, a client on another machine, the
  // window gone).
  std::optional<pid_t> processOfClient(xcb_window_t window);

  // The two names of a window's WM_CLASS: the instance ("xterm") and the
  // class ("XTerm"); empty where the window sets none (or is gone).
  struct WindowClass {
    std::string instance;
    std::string className;
  };
  WindowClass classOf(xcb_window_t window);

  // The largest request the server takes, in bytes.
  std::size_t maximumRequestBytes() const { return maximumRequestBytes_; }

 private:
  xcb_connection_t* connection_;
  xcb_screen_t* screen_ = nullptr;
  xcb_window_t root_ = XCB_WINDOW_NONE;
  std::size_t maximumRequestBytes_ = 0;
  std::map<std::string, xcb_atom_t, std::less<>> atoms_;

 public:
  // processOfClient on a connection this class does not own: GDK's, which
  // the services on the main thread share.
  static std::optional<pid_t> processOfClient(xcb_connection_t* connection, xcb_window_t window);
  // classOf on a connection this class does not own.
  static WindowClass classOf(xcb_connection_t* connection, xcb_window_t window);
};

}  // namespace lumivane::platform::x11
