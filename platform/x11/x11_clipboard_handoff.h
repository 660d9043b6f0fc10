#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>

// Making the clipboard outlive the host: when the host exits while it owns the
// clipboard, a running clipboard manager saves it, or else a keeper process
// (x11_clipboard_keeper.h) takes it over.
namespace lumivane::platform::x11 {

namespace detail {
class PasteboardCore;
}

// What became of the clipboard when the host let go of it.
enum class ClipboardHandOff {
  notOwner,        // another client's clipboard (or an empty one): nothing to do
  savedByManager,  // the clipboard manager has a copy, and serves it when the host exits
  keptByKeeper,    // a keeper process owns it now and serves it until replaced
  lost,            // neither worked: it goes when the host exits
};
struct ClipboardHandOffResult {
  ClipboardHandOff outcome = ClipboardHandOff::lost;
  pid_t keeperPid = -1;
};

// When the host owns the clipboard, asks a running clipboard manager to save
// it, or else starts the keeper at `keeperPath` (none when empty) on
// `displayName`, which takes it over with the same targets, types, formats and
// bytes, and waits at most `keeperBound` until the keeper owns it.
ClipboardHandOffResult handOffClipboard(detail::PasteboardCore& core,
                                        const std::filesystem::path& keeperPath,
                                        const std::string& displayName,
                                        std::chrono::milliseconds keeperBound);

// Where a desktop finds the keeper for the running `executable`: beside it,
// then in ../libexec/lumivane. Absent when neither exists.
std::optional<std::filesystem::path> findClipboardKeeper(const std::filesystem::path& executable);

}  // namespace lumivane::platform::x11
