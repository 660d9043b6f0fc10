#pragma once

#include <poll.h>

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

struct wl_display;
struct wl_registry;
struct wl_seat;
struct zwlr_data_control_manager_v1;
struct zwp_virtual_keyboard_manager_v1;
struct wl_interface;

namespace lumivane::platform::wayland {

// The globals of the compositor the backend uses. Absent ones are null.
struct WaylandGlobals {
  wl_seat* seat = nullptr;
  // The seat's selections for a client without a window; version 2 and later
  // also carry the primary selection.
  zwlr_data_control_manager_v1* dataControl = nullptr;
  std::uint32_t dataControlVersion = 0;
  zwp_virtual_keyboard_manager_v1* virtualKeyboards = nullptr;
  // The list of application windows is not bound here: the manager announces
  // every window as soon as it is bound, so its user binds it (bindGlobal()) and
  // listens at once. 0 when the compositor offers none.
  std::uint32_t toplevelsName = 0;
  std::uint32_t toplevelsVersion = 0;
};

// A connection of the host's own to the compositor, apart from GTK's, with a
// thread of its own that reads and dispatches the compositor's events as they
// come. The clipboard must be served while the host's main thread waits for
// anything ("getSelection" holds it while a copy completes), so nothing here
// runs on the main loop.
//
// Every protocol object of the backend lives on this thread: listeners run
// there, and other threads hand it work with post() or call(). Work runs in
// the order it was handed over, between dispatches of the compositor's
// events. Descriptors (pipes of a transfer) can be watched on the thread
// without blocking it.
class WaylandConnection {
 public:
  // Connects to `displayName` ($WAYLAND_DISPLAY when empty), binds the
  // globals above and starts the thread. Null with `error` set when no
  // compositor answers or the thread cannot start.
  static std::unique_ptr<WaylandConnection> open(const std::string& displayName,
                                                 std::string* error);

  // Only open() makes connections; the key keeps the constructor to it.
  class Key {
    friend class WaylandConnection;
    Key() = default;
  };
  WaylandConnection(Key, wl_display* display);
  // Stops the thread (work not yet run is dropped unrun), then destroys the
  // globals and disconnects. Not on the connection's thread.
  ~WaylandConnection();
  WaylandConnection(const WaylandConnection&) = delete;
  WaylandConnection& operator=(const WaylandConnection&) = delete;

  // On the connection's thread only.
  wl_display* display() const { return display_; }
  const WaylandGlobals& globals() const { return globals_; }

  // Whether the calling thread is the connection's.
  bool onThread() const { return std::this_thread::get_id() == thread_.get_id(); }
  // False once the compositor has closed the connection (or it failed).
  bool alive() const;

  // Runs `task` on the connection's thread; returns at once. Dropped when
  // the connection is going.
  void post(std::function<void()> task);
  // Runs `task` on the connection's thread and waits for its result. On the
  // connection's thread it runs at once. Absent when the connection went
  // before the task could run.
  template <typename T>
  std::optional<T> call(std::function<T()> task);

  // Calls `handler` on the connection's thread each time `fd` is ready for
  // `events` (POLLIN, POLLOUT), until it returns false or the connection
  // goes; the handler then owns nothing the connection keeps. With an `idle`
  // bound, the handler is also called with 0 once `fd` has not been ready
  // for that long since the watch began or the handler last ran: a transfer
  // whose peer stopped reading or writing ends there. The watcher does not
  // own or close `fd`. Connection's thread only.
  void watch(int fd,
             short events,
             std::function<bool(short revents)> handler,
             std::chrono::milliseconds idle = std::chrono::milliseconds::zero());

  // Binds the global `name` of the registry (a name from globals()) as
  // `interface` at `version`. Connection's thread only; the caller adds its
  // listener before the thread dispatches again, and destroys the object.
  void* bindGlobal(std::uint32_t name, const wl_interface* interface, std::uint32_t version);

  // Sends what is queued and waits for the compositor to have handled it and
  // for the events it sent before to have been dispatched. Connection's
  // thread only. False when the connection is broken.
  bool roundTrip();

 private:
  struct Watch {
    int fd;
    short events;
    std::function<bool(short)> handler;
    std::chrono::milliseconds idle;
    std::chrono::steady_clock::time_point due;
  };

  bool bindGlobals(std::string* error);
  bool start(std::string* error);
  void run();
  void runTasks();
  void wake();

  static void onGlobal(void* data,
                       wl_registry* registry,
                       std::uint32_t name,
                       const char* interface,
                       std::uint32_t version);
  static void onGlobalRemove(void* data, wl_registry* registry, std::uint32_t name);

  wl_display* const display_;
  wl_registry* registry_ = nullptr;
  WaylandGlobals globals_;

  mutable std::mutex mutex_;
  std::deque<std::function<void()>> tasks_;
  bool stopping_ = false;
  int wakeFd_ = -1;
  std::vector<Watch> watches_;  // Connection's thread only.
  std::vector<Watch> added_;    // Connection's thread only.
  std::thread thread_;
};

template <typename T>
std::optional<T> WaylandConnection::call(std::function<T()> task) {
  if (onThread())
    return task();
  auto promise = std::make_shared<std::promise<T>>();
  auto future = promise->get_future();
  post([promise, task = std::move(task)] { promise->set_value(task()); });
  // A task dropped unrun leaves its promise broken: the connection went.
  try {
    return future.get();
  } catch (const std::future_error&) {
    return std::nullopt;
  }
}

}  // namespace lumivane::platform::wayland
