#pragma once

#include <functional>
#include <memory>

#include "platform/gtk/own_clipboard.h"
#include "platform/wayland/wayland_pasteboard.h"

namespace lumivane::platform::wayland {

// The pasteboard the host uses on Wayland: `pasteboard` (the clipboard or
// the primary selection through data-control), except that reads on the main
// thread (`isMainThread`) of a selection GTK in this process owns go through
// GTK in process (platform/gtk/own_clipboard.h). GDK learns that another
// client has taken the selection only from an event on its own connection,
// which the main thread holds back while it reads: those events are
// dispatched first.
std::unique_ptr<gtk::OwnClipboardAwarePasteboard> withOwnClipboard(
    std::unique_ptr<WaylandPasteboard> pasteboard,
    std::function<bool()> isMainThread,
    WaylandPasteboard::Selection selection = WaylandPasteboard::Selection::clipboard);

}  // namespace lumivane::platform::wayland
