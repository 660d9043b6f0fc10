#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/clipboard_targets.h"

// The clipboard keeper: a small process that takes over the clipboard from a
// host that exits while it owns it, and serves the same targets, types,
// formats and bytes (on Wayland: MIME types and bytes) until another client
// takes the clipboard or the display goes away. Without it, and without a
// clipboard manager, the user's clipboard would go with the host: on Wayland
// a selection always dies with its client. One program keeps either
// (`lumivane-clipboard-keeper [--display NAME]` on X,
// `lumivane-clipboard-keeper --wayland [--display NAME]` on Wayland).
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
// On Wayland the target and type are the MIME type and the format 8.
//
// The keeper checks all of it before it connects; anything wrong and it exits
// without touching the clipboard. Once it owns the clipboard it writes
// "owned PID" and a line break to its standard output and closes it.
namespace lumivane::platform::gtk {

// What became of the clipboard when the host let go of it.
enum class ClipboardHandOff {
  notOwner,        // another client's clipboard (or an empty one): nothing to do
  savedByManager,  // a clipboard manager (on X) has a copy, and serves it when the host exits
  keptByKeeper,    // a keeper process owns it now and serves it until replaced
  lost,            // neither worked: it goes when the host exits
};
struct ClipboardHandOffResult {
  ClipboardHandOff outcome = ClipboardHandOff::lost;
  pid_t keeperPid = -1;
};

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

// Starts the keeper at `keeperPath` with `arguments` (which display it
// keeps the clipboard of), detached from this process, serving `targets`;
// waits at most `bound` for it to report that it owns the clipboard. Its
// process id then; absent when it could not start, refused its input, or did
// not report in time.
std::optional<pid_t> startClipboardKeeper(const std::filesystem::path& keeperPath,
                                          const std::vector<std::string>& arguments,
                                          const std::vector<NamedTarget>& targets,
                                          std::chrono::milliseconds bound);

// Where a desktop finds the keeper for the running `executable`: beside it,
// then in ../libexec/lumivane. Absent when neither exists.
std::optional<std::filesystem::path> findClipboardKeeper(const std::filesystem::path& executable);

// What the keeper process was asked to keep: its arguments and its input,
// read and checked before it touches any display. Absent when either is
// wrong (the keeper then exits with status 2).
struct KeeperRequest {
  bool wayland = false;
  std::string displayName;  // $DISPLAY or $WAYLAND_DISPLAY when empty
  std::vector<NamedTarget> targets;
};
std::optional<KeeperRequest> readKeeperRequest(int argc, char** argv, int inputFd);

// Tells the host on `fd` (the keeper's standard output) that the keeper owns
// the clipboard, then points `fd` at nothing so that the host's end closes.
void reportKeeperOwns(int fd);

}  // namespace lumivane::platform::gtk
