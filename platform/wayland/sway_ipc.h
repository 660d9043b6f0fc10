#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace lumivane::platform::wayland {

// A window in sway's tree.
struct SwayWindow {
  // sway's container id ([con_id=N] in commands).
  std::int64_t id = 0;
  pid_t pid = 0;
  // Native windows: the app id; XWayland windows have none, and their
  // WM_CLASS class and instance instead.
  std::string appId;
  std::string xClass;
  std::string xInstance;
  std::string title;
  bool focused = false;

  // What foreign-toplevel management calls the window's app id: its own, or
  // for an XWayland window its class.
  const std::string& toplevelAppId() const { return appId.empty() ? xClass : appId; }
};

// The outcome of one command of a RUN_COMMAND message.
struct SwayCommandResult {
  bool success = false;
  std::string error;
};

// A client of sway's IPC socket: messages with i3's framing ("i3-ipc", the
// payload's length and the message type in native byte order, then a JSON
// payload). The backend asks sway for what Wayland protocols keep from
// clients (which process a window belongs to) and has it bind the hot key and
// float the panel.
//
// Any thread: one exchange at a time. Every exchange is bounded by
// kExchangeBound; a socket that does not answer in time is closed and
// connected again for the next exchange. Nothing here throws.
class SwayIpc {
 public:
  static constexpr std::chrono::milliseconds kExchangeBound{2000};

  // The socket named by $SWAYSOCK. Null when the variable is unset (the
  // compositor is not sway, or not one that says where it listens) or nothing
  // answers there.
  static std::unique_ptr<SwayIpc> fromEnvironment();
  // The socket at `path`; null when nothing answers there.
  static std::unique_ptr<SwayIpc> connect(const std::string& path);

  explicit SwayIpc(std::string path);
  ~SwayIpc();
  SwayIpc(const SwayIpc&) = delete;
  SwayIpc& operator=(const SwayIpc&) = delete;

  const std::string& path() const { return path_; }

  // Runs `commands` (several separated by ',' or ';'); one result per
  // command. Absent when sway did not answer.
  std::optional<std::vector<SwayCommandResult>> runCommand(const std::string& commands);
  // Every window in the tree, tiled, floating and scratchpad alike. Absent
  // when sway did not answer.
  std::optional<std::vector<SwayWindow>> windows();
  // The text of the configuration file sway last loaded (without the files
  // it includes). Absent when sway did not answer.
  std::optional<std::string> configuration();

  // The message types used here.
  enum class Message : std::uint32_t {
    runCommand = 0,
    subscribe = 2,
    getTree = 4,
    getConfig = 9,
  };
  // One exchange: the reply's payload; absent when sway did not answer in
  // time or answered with another type.
  std::optional<std::string> exchange(Message type, const std::string& payload);

 private:
  bool connectLocked();
  void closeLocked();

  const std::string path_;
  std::mutex mutex_;
  int fd_ = -1;
};

// Sway's events of one kind, on a socket of their own: sway sends events on
// any socket that subscribed, between replies, so the socket exchanges are
// made on never subscribes. Used by one thread (the main loop watches fd()).
class SwayIpcEvents {
 public:
  // Subscribes to `events` ("workspace", "window", ...) on a new connection
  // to `path`; null when sway refused or did not answer.
  static std::unique_ptr<SwayIpcEvents> subscribe(const std::string& path,
                                                  const std::vector<std::string>& events);
  ~SwayIpcEvents();
  SwayIpcEvents(const SwayIpcEvents&) = delete;
  SwayIpcEvents& operator=(const SwayIpcEvents&) = delete;

  // Readable when an event has come (or sway has gone).
  int fd() const { return fd_; }
  // The next event's payload, once the socket is readable; absent when sway
  // has gone (the socket is useless from then on).
  std::optional<std::string> read();

 private:
  explicit SwayIpcEvents(int fd) : fd_(fd) {}
  int fd_ = -1;
};

// Whether a "workspace" event says that sway has reloaded its configuration,
// which drops what was bound and ruled at run time.
bool announcesReload(const std::string& event);

}  // namespace lumivane::platform::wayland
