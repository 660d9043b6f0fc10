#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <optional>

namespace lumivane::platform::gtk {

// Frame widths the window manager adds around a window's content.
struct FrameExtents {
  int left = 0;
  int right = 0;
  int top = 0;
  int bottom = 0;

  bool operator==(const FrameExtents&) const = default;
};

// What the host's GTK windows need to know of the display system under GTK
// beyond what GDK tells every backend alike: the window manager's frame and
// its idea of the active window, which on X11 it publishes as properties and
// which a Wayland compositor keeps to itself. Each desktop backend gives its
// own. Main thread only; `window` is a realized GtkWindow.
class WindowSystem {
 public:
  virtual ~WindowSystem() = default;

  // The handle the rest of the backend knows the window by (the X window on
  // X11); 0 where windows have none.
  virtual std::uint64_t handleOf(GtkWidget* window) = 0;

  // The frame the window manager puts around `window`, as it last reported
  // it; absent until it has. Without a window manager that reports frames
  // (client-side decorations, Wayland), absent.
  virtual std::optional<FrameExtents> frameExtents(GtkWidget* window) = 0;
  // Asks the window manager to tell the frame it will put around `window`
  // before it is shown. The answer comes as a property-notify-event on the
  // window naming kFrameExtentsProperty; nothing when no answer will come.
  virtual void requestFrameExtents(GtkWidget* window) = 0;

  // Whether the window manager has made `window` the active one. GTK learns
  // of the focus from its own events, a moment after the window manager
  // has decided; asking closes that gap.
  virtual bool isActive(GtkWidget* window) = 0;

  // The time to stamp a request to present `window` with, so that the
  // window manager weighs it as the user's latest action.
  virtual std::uint32_t presentationTime(GtkWidget* window) = 0;

  // Gives `window`, already on the screen, the keyboard where presenting it
  // through GTK does not (a Wayland compositor need not heed a request that
  // carries no token of the user's); nothing by default.
  virtual void activate(GtkWidget* /*window*/) {}
};

// The property whose change tells a window that its frame is known.
inline constexpr const char* kFrameExtentsProperty = "_NET_FRAME_EXTENTS";

// The display system GTK itself speaks for: no frames reported, activation
// as GTK knows it, the current time.
class PlainWindowSystem final : public WindowSystem {
 public:
  std::uint64_t handleOf(GtkWidget* /*window*/) override { return 0; }
  std::optional<FrameExtents> frameExtents(GtkWidget* /*window*/) override { return std::nullopt; }
  void requestFrameExtents(GtkWidget* /*window*/) override {}
  bool isActive(GtkWidget* window) override {
    return GTK_IS_WINDOW(window) && gtk_window_is_active(GTK_WINDOW(window));
  }
  std::uint32_t presentationTime(GtkWidget* /*window*/) override { return GDK_CURRENT_TIME; }
};

}  // namespace lumivane::platform::gtk
