#include "platform/wayland/wayland_own_clipboard.h"

#include <gdk/gdkwayland.h>
#include <wayland-client.h>

namespace lumivane::platform::wayland {

std::unique_ptr<gtk::OwnClipboardAwarePasteboard> withOwnClipboard(
    std::unique_ptr<WaylandPasteboard> pasteboard,
    std::function<bool()> isMainThread,
    WaylandPasteboard::Selection selection) {
  gtk::OwnClipboardAwarePasteboard::Options options;
  options.isMainThread = std::move(isMainThread);
  options.selection = selection == WaylandPasteboard::Selection::clipboard
                          ? gtk::OwnClipboardAwarePasteboard::Selection::clipboard
                          : gtk::OwnClipboardAwarePasteboard::Selection::primary;
  // The main thread is GDK's: the round trip dispatches what the compositor
  // sent GDK before it, a cancelled source of GTK's among it.
  options.catchUp = [] {
    GdkDisplay* display = gdk_display_get_default();
    if (display && GDK_IS_WAYLAND_DISPLAY(display))
      wl_display_roundtrip(gdk_wayland_display_get_wl_display(display));
  };
  return std::make_unique<gtk::OwnClipboardAwarePasteboard>(std::move(pasteboard),
                                                            std::move(options));
}

}  // namespace lumivane::platform::wayland
