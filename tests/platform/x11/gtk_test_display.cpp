#include "tests/platform/x11/gtk_test_display.h"

#include "platform/gtk/gtk_application.h"

#include <gtk/gtk.h>
#include <poll.h>

#include <chrono>

namespace lumivane::test_support {

XSession* startGtkOnPrivateDesktop(const XSession::Options& options) {
  // Ended at exit, after the last test; nothing reads GDK's connection then.
  static std::unique_ptr<XSession> session;
  static XSession::Options chosen;
  static std::string failure;
  if (!session) {
    chosen = options;
    session = std::make_unique<XSession>(options);
    if (!session->ready()) {
      failure = session->failure();
    } else {
      session->exportToThisProcess();
      // As the host starts it, with the names its windows carry.
      std::string error;
      if (!platform::gtk::initializeGtk("x11", &error))
        failure = "GTK could not open " + session->display() + ": " + error;
    }
  }
  if (failure.empty() &&
      (chosen.windowManager != options.windowManager || chosen.sessionBus != options.sessionBus)) {
    ADD_FAILURE() << "GTK already runs on a desktop set up otherwise in this process";
    return nullptr;
  }
  if (!failure.empty()) {
    ADD_FAILURE() << failure;
    return nullptr;
  }
  return session.get();
}

void GtkDisplayEnvironment::SetUp() {
  session_ = startGtkOnPrivateDesktop(options_);
  ASSERT_TRUE(session_);
}

GdkTestDisplay::GdkTestDisplay(const std::string& name)
    : display_(gdk_display_open(name.c_str())) {}

GdkTestDisplay::~GdkTestDisplay() {
  if (!display_)
    return;
  pump();
  gdk_display_close(display_);
}

DesktopProbe::DesktopProbe(const std::string& display) {
  connection_ = platform::x11::XcbConnection::open(display, nullptr);
}

xcb_window_t DesktopProbe::activeWindow() {
  auto active = connection_->getProperty(
      connection_->root(), connection_->atom("_NET_ACTIVE_WINDOW"), false, XCB_ATOM_WINDOW);
  if (!active || active->values32().empty())
    return XCB_WINDOW_NONE;
  return active->values32().front();
}

std::optional<std::set<xcb_window_t>> DesktopProbe::managedWindows() {
  auto list = connection_->getProperty(connection_->root(), connection_->atom("_NET_CLIENT_LIST"),
                                       false, XCB_ATOM_WINDOW);
  if (!list)
    return std::nullopt;
  const auto windows = list->values32();
  return std::set<xcb_window_t>(windows.begin(), windows.end());
}

std::set<xcb_window_t> DesktopProbe::windowsOf(pid_t pid) {
  std::set<xcb_window_t> found;
  for (xcb_window_t window : managedWindows().value_or(std::set<xcb_window_t>{})) {
    auto owner = connection_->getProperty(window, connection_->atom("_NET_WM_PID"), false,
                                          XCB_ATOM_CARDINAL);
    if (owner && !owner->values32().empty() &&
        owner->values32().front() == static_cast<std::uint32_t>(pid)) {
      found.insert(window);
    }
  }
  return found;
}

namespace {

void sendToRoot(platform::x11::XcbConnection& x,
                xcb_window_t window,
                xcb_atom_t type,
                std::uint32_t first,
                std::uint32_t second) {
  xcb_client_message_event_t message{};
  message.response_type = XCB_CLIENT_MESSAGE;
  message.format = 32;
  message.window = window;
  message.type = type;
  message.data.data32[0] = first;
  message.data.data32[1] = second;
  xcb_send_event(x.get(), 0, x.root(),
                 XCB_EVENT_MASK_SUBSTRUCTURE_REDIRECT | XCB_EVENT_MASK_SUBSTRUCTURE_NOTIFY,
                 reinterpret_cast<const char*>(&message));
  xcb_flush(x.get());
}

}  // namespace

void DesktopProbe::requestActivation(xcb_window_t window) {
  // As a taskbar does when the user clicks: on the user's behalf (source 2),
  // stamped with the time of the click, so that an application asking for
  // its own window with an older time does not undo it.
  sendToRoot(*connection_, window, connection_->atom("_NET_ACTIVE_WINDOW"), 2, serverTime());
}

xcb_timestamp_t DesktopProbe::serverTime() {
  xcb_connection_t* c = connection_->get();
  if (clock_ == XCB_WINDOW_NONE) {
    clock_ = xcb_generate_id(c);
    const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
    xcb_create_window(c, 0, clock_, connection_->root(), -1, -1, 1, 1, 0,
                      XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                      XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK, values);
  }
  const xcb_atom_t property = connection_->atom("_TEST_SERVER_TIME");
  xcb_change_property(c, XCB_PROP_MODE_APPEND, clock_, property, XCB_ATOM_STRING, 8, 0, nullptr);
  xcb_flush(c);
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (std::chrono::steady_clock::now() < deadline && connection_->alive()) {
    while (platform::x11::XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
      if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        continue;
      const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
      if (change->window == clock_ && change->atom == property)
        return change->time;
    }
    pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&ready, 1, 100);
  }
  return XCB_CURRENT_TIME;
}

void DesktopProbe::requestIconify(xcb_window_t window) {
  constexpr std::uint32_t kIconicState = 3;
  sendToRoot(*connection_, window, connection_->atom("WM_CHANGE_STATE"), kIconicState, 0);
}

}  // namespace lumivane::test_support
