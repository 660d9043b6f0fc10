#pragma once

#include <memory>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/window_system.h"

namespace lumivane::platform::x11 {

class Ewmh;

// The host's windows on an X11 desktop: known to the rest of the backend by
// their X windows, framed and activated by a window manager that publishes
// both (EWMH, asked through GDK's own connection), presented with the
// server's time. Main thread only; windows are GTK's, on GDK's X11 display.
class X11WindowSystem final : public gtk::WindowSystem {
 public:
  X11WindowSystem();
  ~X11WindowSystem() override;

  std::uint64_t handleOf(GtkWidget* window) override;
  std::optional<gtk::FrameExtents> frameExtents(GtkWidget* window) override;
  void requestFrameExtents(GtkWidget* window) override;
  bool isActive(GtkWidget* window) override;
  std::uint32_t presentationTime(GtkWidget* window) override;

 private:
  // The window manager on the display of `window`; null when `window` is
  // not realized on an open X display.
  Ewmh* ewmhFor(GtkWidget* window);

  gtk::GObjectPtr<GdkDisplay> display_;
  std::unique_ptr<Ewmh> ewmh_;  // on display_
};

}  // namespace lumivane::platform::x11
