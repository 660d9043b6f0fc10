#pragma once

#include <gtk/gtk.h>

#include <memory>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/key_symbols.h"
#include "platform/hot_keys.h"
#include "platform/view.h"

// What an interface written in GTK needs of the Linux desktops to run in the
// host's panel: the widget it draws in, the names of the keys the host's
// chords are made of (key_symbols.h), and what the user must bind where the
// desktop binds no hot key for the host. Nothing else of the backends.
namespace lumivane::platform::gtk {

// Puts the interface's `widget` in the content view `view`, filling it, in
// front of its backdrop. False, with nothing done, when `view` is not a view
// of a GTK desktop. Main thread.
bool embedInterfaceWidget(const std::shared_ptr<View>& view, GtkWidget* widget);

// The command the user binds to a key in the desktop's own settings, where
// `hotKeys` (a Linux desktop's) can bind no chord for the host; absent where
// they can, or are not a Linux desktop's.
std::optional<std::string> hotKeyCommandToBind(HotKeys& hotKeys);

}  // namespace lumivane::platform::gtk
