#include "platform/wayland/wayland_connection.h"

#include <pthread.h>
#include <signal.h>
#include <sys/eventfd.h>
#include <unistd.h>
#include <wayland-client.h>

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <optional>
#include <utility>

#include "platform/wayland/protocols/virtual-keyboard-unstable-v1-client-protocol.h"
#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"

namespace lumivane::platform::wayland {
namespace {

// The newest versions the backend speaks; the compositor may offer older.
constexpr std::uint32_t kSeatVersion = 7;
constexpr std::uint32_t kDataControlVersion = 2;
constexpr std::uint32_t kVirtualKeyboardVersion = 1;
constexpr std::uint32_t kToplevelVersion = 3;

template <typename T>
T* bind(wl_registry* registry,
        std::uint32_t name,
        const wl_interface* interface,
        std::uint32_t offered,
        std::uint32_t newest) {
  return static_cast<T*>(wl_registry_bind(registry, name, interface, std::min(offered, newest)));
}

}  // namespace

std::unique_ptr<WaylandConnection> WaylandConnection::open(const std::string& displayName,
                                                           std::string* error) {
  wl_display* display = wl_display_connect(displayName.empty() ? nullptr : displayName.c_str());
  if (!display) {
    if (error) {
      *error = "cannot connect to the Wayland display " +
               (displayName.empty() ? std::string("$WAYLAND_DISPLAY") : displayName);
    }
    return nullptr;
  }
  auto connection = std::make_unique<WaylandConnection>(Key{}, display);
  if (!connection->bindGlobals(error) || !connection->start(error))
    return nullptr;
  return connection;
}

WaylandConnection::WaylandConnection(Key, wl_display* display) : display_(display) {}

WaylandConnection::~WaylandConnection() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    tasks_.clear();
  }
  wake();
  if (thread_.joinable())
    thread_.join();
  if (globals_.virtualKeyboards)
    zwp_virtual_keyboard_manager_v1_destroy(globals_.virtualKeyboards);
  if (globals_.dataControl)
    zwlr_data_control_manager_v1_destroy(globals_.dataControl);
  if (globals_.seat)
    wl_seat_destroy(globals_.seat);
  if (registry_)
    wl_registry_destroy(registry_);
  if (wakeFd_ >= 0)
    ::close(wakeFd_);
  wl_display_disconnect(display_);
}

bool WaylandConnection::bindGlobals(std::string* error) {
  static const wl_registry_listener listener = {
      .global = &WaylandConnection::onGlobal,
      .global_remove = &WaylandConnection::onGlobalRemove,
  };
  registry_ = wl_display_get_registry(display_);
  wl_registry_add_listener(registry_, &listener, this);
  if (wl_display_roundtrip(display_) < 0) {
    if (error)
      *error = "the Wayland compositor did not answer";
    return false;
  }
  return true;
}

void WaylandConnection::onGlobal(void* data,
                                 wl_registry* registry,
                                 std::uint32_t name,
                                 const char* interface,
                                 std::uint32_t version) {
  auto& globals = static_cast<WaylandConnection*>(data)->globals_;
  const std::string_view which = interface;
  // The first seat: the host works for the user at the keyboard, and a
  // session has one seat unless someone set up more.
  if (which == wl_seat_interface.name && !globals.seat) {
    globals.seat = bind<wl_seat>(registry, name, &wl_seat_interface, version, kSeatVersion);
  } else if (which == zwlr_data_control_manager_v1_interface.name && !globals.dataControl) {
    globals.dataControl = bind<zwlr_data_control_manager_v1>(
        registry, name, &zwlr_data_control_manager_v1_interface, version, kDataControlVersion);
    globals.dataControlVersion = std::min(version, kDataControlVersion);
  } else if (which == zwp_virtual_keyboard_manager_v1_interface.name && !globals.virtualKeyboards) {
    globals.virtualKeyboards = bind<zwp_virtual_keyboard_manager_v1>(
        registry, name, &zwp_virtual_keyboard_manager_v1_interface, version,
        kVirtualKeyboardVersion);
  } else if (which == zwlr_foreign_toplevel_manager_v1_interface.name && !globals.toplevelsName) {
    globals.toplevelsName = name;
    globals.toplevelsVersion = std::min(version, kToplevelVersion);
  }
}

void WaylandConnection::onGlobalRemove(void*, wl_registry*, std::uint32_t) {
  // The globals the backend binds go only with the compositor.
}

bool WaylandConnection::start(std::string* error) {
  wakeFd_ = ::eventfd(0, EFD_CLOEXEC | EFD_NONBLOCK);
  if (wakeFd_ < 0) {
    if (error)
      *error = std::string("cannot make the Wayland connection's wake-up: ") + std::strerror(errno);
    return false;
  }
  thread_ = std::thread([this] { run(); });
  return true;
}

bool WaylandConnection::alive() const {
  return wl_display_get_error(display_) == 0;
}

void WaylandConnection::post(std::function<void()> task) {
  {
    std::lock_guard lock(mutex_);
    if (stopping_)
      return;
    tasks_.push_back(std::move(task));
  }
  wake();
}

void WaylandConnection::wake() {
  if (wakeFd_ < 0)
    return;
  const std::uint64_t one = 1;
  // A full counter already wakes the thread.
  [[maybe_unused]] const auto written = ::write(wakeFd_, &one, sizeof one);
}

void WaylandConnection::watch(int fd,
                              short events,
                              std::function<bool(short)> handler,
                              std::chrono::milliseconds idle) {
  // Joins the others at the thread's next turn: a handler that adds a watch
  // runs from inside watches_.
  added_.push_back(
      Watch{fd, events, std::move(handler), idle, std::chrono::steady_clock::now() + idle});
}

void* WaylandConnection::bindGlobal(std::uint32_t name,
                                    const wl_interface* interface,
                                    std::uint32_t version) {
  return wl_registry_bind(registry_, name, interface, version);
}

bool WaylandConnection::roundTrip() {
  return wl_display_roundtrip(display_) >= 0;
}

void WaylandConnection::runTasks() {
  for (;;) {
    std::function<void()> task;
    {
      std::lock_guard lock(mutex_);
      if (stopping_ || tasks_.empty())
        return;
      task = std::move(tasks_.front());
      tasks_.pop_front();
    }
    task();
  }
}

void WaylandConnection::run() {
  // Transfers write to pipes whose readers may have gone: with SIGPIPE
  // blocked here, such a write fails instead of ending the host.
  sigset_t pipeSignal;
  sigemptyset(&pipeSignal);
  sigaddset(&pipeSignal, SIGPIPE);
  pthread_sigmask(SIG_BLOCK, &pipeSignal, nullptr);

  // Whether the compositor's socket is still worth reading: once the
  // connection has failed, only the tasks and watches are served (the tasks
  // find it dead), until the connection is stopped.
  bool reading = true;
  for (;;) {
    runTasks();
    {
      std::lock_guard lock(mutex_);
      if (stopping_)
        return;
    }
    if (reading) {
      // Events already read belong to their listeners before the thread
      // sleeps.
      while (wl_display_prepare_read(display_) != 0) {
        if (wl_display_dispatch_pending(display_) < 0) {
          reading = false;
          break;
        }
      }
    }
    if (reading)
      wl_display_flush(display_);

    std::vector<pollfd> fds;
    fds.push_back({reading ? wl_display_get_fd(display_) : -1, POLLIN, 0});
    fds.push_back({wakeFd_, POLLIN, 0});
    for (auto& watch : added_)
      watches_.push_back(std::move(watch));
    added_.clear();
    const std::size_t watched = watches_.size();
    std::optional<std::chrono::steady_clock::time_point> due;
    for (std::size_t i = 0; i < watched; ++i) {
      fds.push_back({watches_[i].fd, watches_[i].events, 0});
      if (watches_[i].idle.count() > 0 && (!due || watches_[i].due < *due))
        due = watches_[i].due;
    }
    int timeout = -1;
    if (due) {
      timeout = static_cast<int>(std::clamp<std::int64_t>(
          std::chrono::ceil<std::chrono::milliseconds>(*due - std::chrono::steady_clock::now())
              .count(),
          0, 60'000));
    }
    const int ready = ::poll(fds.data(), fds.size(), timeout);
    if (reading) {
      if (ready > 0 && (fds[0].revents & POLLIN)) {
        if (wl_display_read_events(display_) < 0)
          reading = false;
      } else {
        wl_display_cancel_read(display_);
      }
      if (fds[0].revents & (POLLERR | POLLHUP | POLLNVAL))
        reading = false;
      if (wl_display_dispatch_pending(display_) < 0)
        reading = false;
    }
    if (ready < 0)
      continue;
    if (fds[1].revents & POLLIN) {
      std::uint64_t count = 0;
      [[maybe_unused]] const auto read = ::read(wakeFd_, &count, sizeof count);
    }
    // Only the watches polled are looked at; finished ones go afterwards.
    const auto now = std::chrono::steady_clock::now();
    std::vector<bool> finished(watched, false);
    for (std::size_t i = 0; i < watched; ++i) {
      const short revents = fds[2 + i].revents;
      if (revents == 0 && (watches_[i].idle.count() == 0 || now < watches_[i].due))
        continue;
      finished[i] = !watches_[i].handler(revents);
      watches_[i].due = std::chrono::steady_clock::now() + watches_[i].idle;
    }
    for (std::size_t i = watched; i-- > 0;) {
      if (finished[i])
        watches_.erase(watches_.begin() + static_cast<std::ptrdiff_t>(i));
    }
  }
}

}  // namespace lumivane::platform::wayland
