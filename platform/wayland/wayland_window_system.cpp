#include "platform/wayland/wayland_window_system.h"

namespace lumivane::platform::wayland {

std::uint64_t WaylandWindowSystem::handleOf(GtkWidget* window) {
  GdkWindow* gdkWindow = window ? gtk_widget_get_window(window) : nullptr;
  return reinterpret_cast<std::uintptr_t>(gdkWindow);
}

void WaylandWindowSystem::activate(GtkWidget* window) {
  const gchar* title = GTK_IS_WINDOW(window) ? gtk_window_get_title(GTK_WINDOW(window)) : nullptr;
  if (activateHostWindow)
    activateHostWindow(title ? title : "");
}

bool WaylandWindowSystem::isActive(GtkWidget* window) {
  return GTK_IS_WINDOW(window) && gtk_window_is_active(GTK_WINDOW(window));
}

}  // namespace lumivane::platform::wayland
