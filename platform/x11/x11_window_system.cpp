#include "platform/x11/x11_window_system.h"

#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>

#include "platform/x11/x11_ewmh.h"

namespace lumivane::platform::x11 {
namespace {

GdkWindow* x11WindowOf(GtkWidget* window) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  return gdkWindow && GDK_IS_X11_WINDOW(gdkWindow) ? gdkWindow : nullptr;
}

xcb_window_t xidOf(GdkWindow* window) {
  return static_cast<xcb_window_t>(gdk_x11_window_get_xid(window));
}

}  // namespace

X11WindowSystem::X11WindowSystem() = default;
X11WindowSystem::~X11WindowSystem() = default;

Ewmh* X11WindowSystem::ewmhFor(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  if (!gdkWindow)
    return nullptr;
  GdkDisplay* display = gdk_window_get_display(gdkWindow);
  if (gdk_display_is_closed(display))
    return nullptr;
  if (display != display_.get()) {
    // Held, so that no other display takes its place at its address.
    display_.reset(GDK_DISPLAY(g_object_ref(display)));
    GdkWindow* root = gdk_screen_get_root_window(gdk_window_get_screen(gdkWindow));
    ewmh_ = std::make_unique<Ewmh>(XGetXCBConnection(gdk_x11_display_get_xdisplay(display)),
                                   xidOf(root));
  }
  return ewmh_.get();
}

std::uint64_t X11WindowSystem::handleOf(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  return gdkWindow ? xidOf(gdkWindow) : 0;
}

std::optional<gtk::FrameExtents> X11WindowSystem::frameExtents(GtkWidget* window) {
  Ewmh* ewmh = ewmhFor(window);
  const auto extents = ewmh ? ewmh->frameExtents(xidOf(x11WindowOf(window))) : std::nullopt;
  if (!extents)
    return std::nullopt;
  return gtk::FrameExtents{static_cast<int>(extents->left), static_cast<int>(extents->right),
                           static_cast<int>(extents->top), static_cast<int>(extents->bottom)};
}

void X11WindowSystem::requestFrameExtents(GtkWidget* window) {
  Ewmh* ewmh = ewmhFor(window);
  if (!ewmh)
    return;
  // No answer would come from a window manager that does not know the request.
  GdkWindow* gdkWindow = x11WindowOf(window);
  if (gdk_x11_screen_supports_net_wm_hint(
          gdk_window_get_screen(gdkWindow),
          gdk_atom_intern_static_string("_NET_REQUEST_FRAME_EXTENTS"))) {
    ewmh->requestFrameExtents(xidOf(gdkWindow));
  }
}

bool X11WindowSystem::isActive(GtkWidget* window) {
  Ewmh* ewmh = ewmhFor(window);
  return ewmh && ewmh->activeWindow() == xidOf(x11WindowOf(window));
}

std::uint32_t X11WindowSystem::presentationTime(GtkWidget* window) {
  GdkWindow* gdkWindow = x11WindowOf(window);
  return gdkWindow ? gdk_x11_get_server_time(gdkWindow) : GDK_CURRENT_TIME;
}

}  // namespace lumivane::platform::x11
