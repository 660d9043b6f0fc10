#include "platform/x11/x11_window_system.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <gdk/gdkx.h>

#include <vector>

namespace lumivane::platform::x11 {
namespace {

GdkWindow* x11WindowOf(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  return gdkWindow && GDK_IS_X11_WINDOW(gdkWindow) ? gdkWindow : nullptr;
}

// The first `count` format-32 values of `property` on `window`; absent when
// it has fewer or none.
std::optional<std::vector<unsigned long>> readCardinals(GdkDisplay* display,
                                                        ::Window window,
                                                        const char* property,
                                                        Atom type,
                                                        long count) {
  Atom actualType = None;
  int format = 0;
  unsigned long items = 0;
  unsigned long after = 0;
  unsigned char* data = nullptr;
  gdk_x11_display_error_trap_push(display);
  const int status =
      XGetWindowProperty(GDK_DISPLAY_XDISPLAY(display), window,
                         gdk_x11_get_xatom_by_name_for_display(display, property), 0, count, False,
                         type, &actualType, &format, &items, &after, &data);
  gdk_x11_display_error_trap_pop_ignored(display);
  std::optional<std::vector<unsigned long>> values;
  if (status == Success && data && format == 32 && items == static_cast<unsigned long>(count)) {
    // Format-32 properties come as longs.
    const auto* longs = reinterpret_cast<const unsigned long*>(data);
    values.emplace(longs, longs + count);
  }
  if (data)
    XFree(data);
  return values;
}

}  // namespace

std::uint64_t X11WindowSystem::handleOf(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  return gdkWindow ? gdk_x11_window_get_xid(gdkWindow) : 0;
}

std::optional<gtk::FrameExtents> X11WindowSystem::frameExtents(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  if (!gdkWindow)
    return std::nullopt;
  const auto values = readCardinals(gdk_window_get_display(gdkWindow), GDK_WINDOW_XID(gdkWindow),
                                    gtk::kFrameExtentsProperty, XA_CARDINAL, 4);
  if (!values)
    return std::nullopt;
  return gtk::FrameExtents{static_cast<int>((*values)[0]), static_cast<int>((*values)[1]),
                           static_cast<int>((*values)[2]), static_cast<int>((*values)[3])};
}

void X11WindowSystem::requestFrameExtents(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  if (!gdkWindow)
    return;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  GdkScreen* screen = gdk_window_get_screen(gdkWindow);
  if (!gdk_x11_screen_supports_net_wm_hint(
          screen, gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS"))) {
    return;
  }
  XEvent request{};
  request.xclient.type = ClientMessage;
  request.xclient.window = GDK_WINDOW_XID(gdkWindow);
  request.xclient.message_type =
      gdk_x11_get_xatom_by_name_for_display(display, "_NET_REQUEST_FRAME_EXTENTS");
  request.xclient.format = 32;
  Display* x = GDK_DISPLAY_XDISPLAY(display);
  gdk_x11_display_error_trap_push(display);
  XSendEvent(x, GDK_WINDOW_XID(gdk_screen_get_root_window(screen)), False,
             SubstructureRedirectMask | SubstructureNotifyMask, &request);
  XFlush(x);
  gdk_x11_display_error_trap_pop_ignored(display);
}

bool X11WindowSystem::isActive(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  if (!gdkWindow)
    return false;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  const auto active = readCardinals(display, DefaultRootWindow(GDK_DISPLAY_XDISPLAY(display)),
                                    "_NET_ACTIVE_WINDOW", XA_WINDOW, 1);
  return active && (*active)[0] == GDK_WINDOW_XID(gdkWindow);
}

std::uint32_t X11WindowSystem::presentationTime(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  return gdkWindow ? gdk_x11_get_server_time(gdkWindow) : GDK_CURRENT_TIME;
}

}  // namespace lumivane::platform::x11
