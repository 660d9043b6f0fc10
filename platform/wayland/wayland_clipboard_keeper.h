#pragma once

#include <string>
#include <vector>

#include "platform/gtk/clipboard_targets.h"

namespace lumivane::platform::wayland {

// The clipboard keeper on Wayland (the hand-over: platform/gtk/clipboard_keeper.h):
// takes the clipboard of `displayName` ($WAYLAND_DISPLAY when empty) with
// the MIME types and bytes of `targets` on a connection of its own, reports
// it on standard output, and serves them until another client takes the
// clipboard and every transfer asked for before that has ended, or the
// compositor goes. Returns the keeper's exit status.
int keepClipboard(const std::string& displayName, std::vector<gtk::NamedTarget> targets);

}  // namespace lumivane::platform::wayland
