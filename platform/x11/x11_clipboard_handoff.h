#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

#include "platform/gtk/clipboard_keeper.h"

// Making the clipboard outlive the host: when the host exits while it owns the
// clipboard, a running clipboard manager saves it, or else a keeper process
// (platform/gtk/clipboard_keeper.h) takes it over.
namespace lumivane::platform::x11 {

namespace detail {
class PasteboardCore;
}

using gtk::ClipboardHandOff;
using gtk::ClipboardHandOffResult;

// When the host owns the clipboard, asks a running clipboard manager to save
// it, or else starts the keeper at `keeperPath` (none when empty) on
// `displayName`, which takes it over with the same targets, types, formats and
// bytes, and waits at most `keeperBound` until the keeper owns it.
ClipboardHandOffResult handOffClipboard(detail::PasteboardCore& core,
                                        const std::filesystem::path& keeperPath,
                                        const std::string& displayName,
                                        std::chrono::milliseconds keeperBound);

}  // namespace lumivane::platform::x11
