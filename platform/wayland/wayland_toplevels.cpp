#include "platform/wayland/wayland_toplevels.h"

#include <wayland-client.h>

#include <algorithm>

#include "platform/wayland/protocols/wlr-foreign-toplevel-management-unstable-v1-client-protocol.h"
#include "platform/wayland/wayland_connection.h"

namespace lumivane::platform::wayland {

const SwayWindow* swayWindowOf(const Toplevel& toplevel, std::span<const SwayWindow> windows) {
  const SwayWindow* found = nullptr;
  for (const SwayWindow& window : windows) {
    if (window.toplevelAppId() != toplevel.appId || window.title != toplevel.title)
      continue;
    if (!found || (toplevel.activated && window.focused && !found->focused))
      found = &window;
  }
  return found;
}

const Toplevel* toplevelToActivate(std::span<const Toplevel> windows) {
  const Toplevel* chosen = nullptr;
  for (const Toplevel& window : windows) {
    if (!chosen || window.lastActivated > chosen->lastActivated)
      chosen = &window;
  }
  return chosen;
}

// One window's protocol object and what the compositor has told of it since
// its last `done`. Connection's thread only.
struct WaylandToplevels::Handle {
  WaylandToplevels* owner = nullptr;
  zwlr_foreign_toplevel_handle_v1* proxy = nullptr;
  Toplevel pending;
  // Whether `done` has come once: only then is the window listed.
  bool announced = false;

  ~Handle() {
    if (proxy)
      zwlr_foreign_toplevel_handle_v1_destroy(proxy);
  }

  static Handle& of(void* data) { return *static_cast<Handle*>(data); }

  static void onTitle(void* data, zwlr_foreign_toplevel_handle_v1*, const char* title) {
    of(data).pending.title = title ? title : "";
  }
  static void onAppId(void* data, zwlr_foreign_toplevel_handle_v1*, const char* appId) {
    of(data).pending.appId = appId ? appId : "";
  }
  static void onOutput(void*, zwlr_foreign_toplevel_handle_v1*, wl_output*) {}
  static void onState(void* data, zwlr_foreign_toplevel_handle_v1*, wl_array* states) {
    bool activated = false;
    const auto* begin = static_cast<const std::uint32_t*>(states->data);
    for (std::size_t i = 0; i < states->size / sizeof(std::uint32_t); ++i)
      activated |= begin[i] == ZWLR_FOREIGN_TOPLEVEL_HANDLE_V1_STATE_ACTIVATED;
    of(data).pending.activated = activated;
  }
  static void onDone(void* data, zwlr_foreign_toplevel_handle_v1*) {
    Handle& handle = of(data);
    handle.announced = true;
    handle.owner->changed();
  }
  static void onClosed(void* data, zwlr_foreign_toplevel_handle_v1*) {
    Handle& handle = of(data);
    WaylandToplevels* owner = handle.owner;
    // Destroys `handle`.
    owner->handles_.erase(handle.pending.id);
    owner->changed();
  }
  static void onParent(void*, zwlr_foreign_toplevel_handle_v1*, zwlr_foreign_toplevel_handle_v1*) {}
};

std::unique_ptr<WaylandToplevels> WaylandToplevels::start(WaylandConnection& connection) {
  auto toplevels = std::make_unique<WaylandToplevels>(connection);
  const auto listening = connection.call<bool>([raw = toplevels.get()] { return raw->listen(); });
  if (!listening || !*listening)
    return nullptr;
  return toplevels;
}

WaylandToplevels::WaylandToplevels(WaylandConnection& connection) : connection_(connection) {}

WaylandToplevels::~WaylandToplevels() {
  const auto stopped = connection_.call<bool>([this] {
    stop();
    return true;
  });
  // A connection stopped first has taken the objects' memory with it.
  if (!stopped) {
    for (auto& [id, handle] : handles_)
      handle->proxy = nullptr;
  }
}

bool WaylandToplevels::listen() {
  static const zwlr_foreign_toplevel_manager_v1_listener listener = {
      .toplevel = &WaylandToplevels::onToplevel,
      .finished = &WaylandToplevels::onFinished,
  };
  const WaylandGlobals& globals = connection_.globals();
  if (globals.toplevelsName == 0)
    return false;
  manager_ = static_cast<zwlr_foreign_toplevel_manager_v1*>(
      connection_.bindGlobal(globals.toplevelsName, &zwlr_foreign_toplevel_manager_v1_interface,
                             globals.toplevelsVersion));
  if (!manager_)
    return false;
  zwlr_foreign_toplevel_manager_v1_add_listener(manager_, &listener, this);
  // The windows there already are announced at once.
  return connection_.roundTrip();
}

void WaylandToplevels::stop() {
  handles_.clear();
  if (manager_)
    zwlr_foreign_toplevel_manager_v1_destroy(manager_);
  manager_ = nullptr;
  std::lock_guard lock(mutex_);
  observer_ = nullptr;
}

void WaylandToplevels::onToplevel(void* data,
                                  zwlr_foreign_toplevel_manager_v1*,
                                  zwlr_foreign_toplevel_handle_v1* proxy) {
  static const zwlr_foreign_toplevel_handle_v1_listener listener = {
      .title = &Handle::onTitle,
      .app_id = &Handle::onAppId,
      .output_enter = &Handle::onOutput,
      .output_leave = &Handle::onOutput,
      .state = &Handle::onState,
      .done = &Handle::onDone,
      .closed = &Handle::onClosed,
      .parent = &Handle::onParent,
  };
  auto* self = static_cast<WaylandToplevels*>(data);
  auto handle = std::make_unique<Handle>();
  handle->owner = self;
  handle->proxy = proxy;
  handle->pending.id = self->nextId_++;
  zwlr_foreign_toplevel_handle_v1_add_listener(proxy, &listener, handle.get());
  const std::uint64_t id = handle->pending.id;
  self->handles_.emplace(id, std::move(handle));
}

void WaylandToplevels::onFinished(void* data, zwlr_foreign_toplevel_manager_v1*) {
  // The compositor will say no more; the list stays as it was last told.
  auto* self = static_cast<WaylandToplevels*>(data);
  zwlr_foreign_toplevel_manager_v1_destroy(self->manager_);
  self->manager_ = nullptr;
}

void WaylandToplevels::changed() {
  std::function<void()> observer;
  {
    std::lock_guard lock(mutex_);
    std::vector<Toplevel> next;
    for (auto& entry : handles_) {
      auto& handle = entry.second;
      if (!handle->announced)
        continue;
      Toplevel& pending = handle->pending;
      const auto id = entry.first;
      const auto before = std::find_if(list_.begin(), list_.end(),
                                       [&](const Toplevel& known) { return known.id == id; });
      const bool wasActive = before != list_.end() && before->activated;
      if (pending.activated && !wasActive) {
        pending.lastActivated = ++activations_;
        pending.activatedAt = std::chrono::steady_clock::now();
      }
      next.push_back(pending);
    }
    list_ = std::move(next);
    observer = observer_;
  }
  changed_.notify_all();
  if (observer)
    observer();
}

std::vector<Toplevel> WaylandToplevels::list() const {
  std::lock_guard lock(mutex_);
  return list_;
}

bool WaylandToplevels::activate(std::uint64_t id) {
  const auto done = connection_.call<bool>([this, id] {
    auto it = handles_.find(id);
    wl_seat* seat = connection_.globals().seat;
    if (it == handles_.end() || !seat)
      return false;
    zwlr_foreign_toplevel_handle_v1_activate(it->second->proxy, seat);
    return true;
  });
  return done.value_or(false);
}

bool WaylandToplevels::waitUntil(const std::function<bool(const std::vector<Toplevel>&)>& condition,
                                 Clock::duration bound) {
  std::unique_lock lock(mutex_);
  return changed_.wait_until(lock, Clock::now() + bound, [&] { return condition(list_); });
}

void WaylandToplevels::setObserver(std::function<void()> observer) {
  std::lock_guard lock(mutex_);
  observer_ = std::move(observer);
}

}  // namespace lumivane::platform::wayland
