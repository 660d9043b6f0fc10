#pragma once

#include "platform/gtk/window_system.h"

namespace lumivane::platform::x11 {

// The host's windows on an X11 desktop: known to the rest of the backend by
// their X windows, framed and activated by a window manager that publishes
// both (EWMH), presented with the server's time. Main thread only; windows
// are GTK's, on GDK's X11 display.
class X11WindowSystem final : public gtk::WindowSystem {
 public:
  std::uint64_t handleOf(GtkWidget* window) override;
  std::optional<gtk::FrameExtents> frameExtents(GtkWidget* window) override;
  void requestFrameExtents(GtkWidget* window) override;
  bool isActive(GtkWidget* window) override;
  std::uint32_t presentationTime(GtkWidget* window) override;
};

}  // namespace lumivane::platform::x11
