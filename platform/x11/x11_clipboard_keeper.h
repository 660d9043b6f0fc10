#pragma once

#include <string>
#include <vector>

#include "platform/x11/x11_selection.h"

// The clipboard keeper's X mode (the hand-over: platform/gtk/clipboard_keeper.h):
// it owns the CLIPBOARD with the targets handed over and serves them until
// another client takes it or the X server goes away.
namespace lumivane::platform::x11 {

// The keeper on X: owns the CLIPBOARD of `displayName` ($DISPLAY when empty)
// with `targets`, reports it on standard output, and serves them until
// another client takes it and every transfer asked for before that has
// ended, or the server goes. Returns the keeper's exit status.
int keepClipboard(const std::string& displayName, std::vector<NamedTarget> targets);

}  // namespace lumivane::platform::x11
