#pragma once

#include <sys/types.h>

#include <chrono>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/x11/x11_selection.h"

// The clipboard keeper: a small process that takes over the CLIPBOARD from a
// host that exits while it owns it, and serves the same targets, types,
// formats and bytes until another client takes the clipboard or the X server
// goes away. Without it, and without a clipboard manager, the user's
// clipboard would go with the host.
//
// The host hands the targets over on the keeper's standard input, in this
// form (integers little-endian):
//
//     "LVCLIP\0\1"                                  8 bytes
//     count                                         u32, 1 to 4096
//     count times:
//       target name length, target name             u32, 1 to 4096 bytes, no NUL
//       type name length, type name                 u32, 1 to 4096 bytes, no NUL
//       format                                      u8: 8, 16 or 32
//       data length, data                           u64, whole units of the format
//     and nothing after.
//
// The keeper checks all of it before it connects; anything wrong and it exits
// without touching the clipboard. Once it owns the clipboard it writes
// "owned PID" and a line break to its standard output and closes it.
namespace lumivane::platform::x11 {

// Writes `targets` to `fd` in the keeper's input form. False when they
// cannot be put in it (nothing to keep, a name or count out of range) or the
// write fails.
bool writeKeeperInput(int fd, const std::vector<NamedTarget>& targets);

// Reads the keeper's input from `fd` to its end and checks it: absent when
// anything is wrong, duplicate and meta targets (TARGETS, MULTIPLE...)
// included. Reads no more than the input's size (when `fd` is a file) or
// `maxBytes` (a pipe) allows, whatever lengths it claims.
std::optional<std::vector<NamedTarget>> readKeeperInput(int fd,
                                                        std::uint64_t maxBytes = std::uint64_t{2}
                                                                                 << 30);

// Starts the keeper at `keeperPath` on `displayName` ($DISPLAY when empty),
// detached from this process, serving `targets`; waits at most `bound` for it
// to report that it owns the clipboard. Its process id then; absent when it
// could not start, refused its input, or did not report in time.
std::optional<pid_t> startClipboardKeeper(const std::filesystem::path& keeperPath,
                                          const std::string& displayName,
                                          const std::vector<NamedTarget>& targets,
                                          std::chrono::milliseconds bound);

// The keeper process itself: `lumivane-clipboard-keeper [--display NAME]`,
// input on standard input. Returns its exit status: 0 once the clipboard has
// gone to another client or the server has gone, 2 for bad input or
// arguments, 3 when the display cannot be used or the clipboard cannot be
// taken.
int runClipboardKeeper(int argc, char** argv);

}  // namespace lumivane::platform::x11
