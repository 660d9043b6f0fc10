#pragma once

#include <sys/types.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <span>
#include <string>
#include <vector>

#include "platform/wayland/sway_ipc.h"

struct zwlr_foreign_toplevel_manager_v1;
struct zwlr_foreign_toplevel_handle_v1;

namespace lumivane::platform::wayland {

class WaylandConnection;

// An application window as the compositor lists it (foreign-toplevel
// management), at the end of its last announced change.
struct Toplevel {
  // Ours: never given to another window.
  std::uint64_t id = 0;
  std::string appId;
  std::string title;
  bool activated = false;
  // When it was last activated, as a count that grows with every
  // activation; 0 when it has not been since the list started.
  std::uint64_t lastActivated = 0;
  // The same moment on the steady clock, as the connection heard it.
  std::chrono::steady_clock::time_point activatedAt{};
};

// The window of sway's tree that `toplevel` is, matched by app id and title
// (the protocol names no process); null when none matches. Among several
// matches the focused one is taken for an activated window, else the first.
const SwayWindow* swayWindowOf(const Toplevel& toplevel, std::span<const SwayWindow> windows);

// Which of an application's windows the host turns to, to copy its selection
// and to paste into it alike: the one the user used last, else the first
// listed. Null when `windows` is empty.
const Toplevel* toplevelToActivate(std::span<const Toplevel> windows);

// The compositor's list of application windows, mirrored on the connection's
// thread as the compositor announces them and read on any thread. Windows
// appear once their first announcement is complete and go when the
// compositor closes them.
class WaylandToplevels {
 public:
  using Clock = std::chrono::steady_clock;

  // Starts listening on `connection`, which must outlive this object. Null
  // when the compositor offers no foreign-toplevel management (or the
  // connection has gone). Not on the connection's thread.
  static std::unique_ptr<WaylandToplevels> start(WaylandConnection& connection);

  explicit WaylandToplevels(WaylandConnection& connection);
  // Stops listening; no observer is called afterwards. Not on the
  // connection's thread.
  ~WaylandToplevels();
  WaylandToplevels(const WaylandToplevels&) = delete;
  WaylandToplevels& operator=(const WaylandToplevels&) = delete;

  // The windows now, in the order they were announced. Any thread.
  std::vector<Toplevel> list() const;

  // Asks the compositor to give the keyboard of the backend's seat to
  // window `id`. False when the window is gone. Any thread but the
  // connection's.
  bool activate(std::uint64_t id);

  // Waits until `condition` holds over the list, checking it again whenever
  // the compositor has announced a change, for at most `bound`. True when it
  // held. Any thread but the connection's.
  bool waitUntil(const std::function<bool(const std::vector<Toplevel>&)>& condition,
                 Clock::duration bound);

  // Calls `observer` on the connection's thread after every announced
  // change; it must not block. Replaces the one before.
  void setObserver(std::function<void()> observer);

 private:
  struct Handle;

  bool listen();
  void stop();
  void changed();

  static void onToplevel(void* data,
                         zwlr_foreign_toplevel_manager_v1* manager,
                         zwlr_foreign_toplevel_handle_v1* handle);
  static void onFinished(void* data, zwlr_foreign_toplevel_manager_v1* manager);

  WaylandConnection& connection_;
  // Connection's thread only.
  zwlr_foreign_toplevel_manager_v1* manager_ = nullptr;
  std::map<std::uint64_t, std::unique_ptr<Handle>> handles_;
  std::uint64_t nextId_ = 1;

  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<Toplevel> list_;
  std::uint64_t activations_ = 0;
  std::function<void()> observer_;
};

}  // namespace lumivane::platform::wayland
