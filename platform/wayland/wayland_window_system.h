#pragma once

#include <functional>
#include <string>

#include "platform/gtk/window_system.h"

namespace lumivane::platform::wayland {

// The host's windows on a Wayland desktop. The compositor reports no frames
// (GTK draws its own decorations or none) and keeps its idea of the active
// window to itself: activation is as GTK knows it, and a request to present
// a window carries no time of its own. The rest of the backend knows the
// host's windows by their app id; a window's handle only says which one of
// them it is, for as long as it is realized. Main thread only.
class WaylandWindowSystem final : public gtk::WindowSystem {
 public:
  std::uint64_t handleOf(GtkWidget* window) override;
  std::optional<gtk::FrameExtents> frameExtents(GtkWidget* /*window*/) override {
    return std::nullopt;
  }
  void requestFrameExtents(GtkWidget* /*window*/) override {}
  bool isActive(GtkWidget* window) override;
  std::uint32_t presentationTime(GtkWidget* /*window*/) override { return GDK_CURRENT_TIME; }
  // Through `activateHostWindow` with the window's title; nothing without it.
  void activate(GtkWidget* window) override;

  // Activates the host's window with that title, as the compositor lists it.
  std::function<void(const std::string& title)> activateHostWindow;
};

}  // namespace lumivane::platform::wayland
