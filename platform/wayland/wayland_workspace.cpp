#include "platform/wayland/wayland_workspace.h"

#include <glib.h>
#include <unistd.h>

#include <atomic>
#include <deque>
#include <functional>
#include <mutex>
#include <utility>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_toplevels.h"

namespace lumivane::platform::wayland {
namespace {

// Tasks the connection's thread hands to the main loop, each run by an idle
// callback of its own. They pass through this queue under its lock rather
// than as GLib's data pointer, so that every thread checker sees the hand-over
// (GLib's own locking is invisible to one when GLib is not built with it).
struct MainLoopTasks {
  std::mutex mutex;
  std::deque<std::function<void()>> tasks;
};

MainLoopTasks& mainLoopTasks() {
  static MainLoopTasks queue;
  return queue;
}

void runOnMainLoop(std::function<void()> task) {
  {
    std::lock_guard lock(mainLoopTasks().mutex);
    mainLoopTasks().tasks.push_back(std::move(task));
  }
  g_idle_add_full(
      G_PRIORITY_DEFAULT,
      [](gpointer) -> gboolean {
        std::function<void()> next;
        {
          std::lock_guard lock(mainLoopTasks().mutex);
          if (mainLoopTasks().tasks.empty())
            return G_SOURCE_REMOVE;
          next = std::move(mainLoopTasks().tasks.front());
          mainLoopTasks().tasks.pop_front();
        }
        next();
        return G_SOURCE_REMOVE;
      },
      nullptr, nullptr);
}

}  // namespace

// What the workspace and its application handles share. It lives on the main
// thread: the window list tells it of changes from the connection's thread
// through a main-loop task, and handles keep only a weak reference.
class WaylandWorkspaceCore : public std::enable_shared_from_this<WaylandWorkspaceCore> {
 public:
  explicit WaylandWorkspaceCore(WaylandWorkspace::Options options) : options_(std::move(options)) {}

  // Notes the application in front now, and listens for changes; needs the
  // shared owner to exist.
  void start();
  // Stops listening; pending announcements are dropped.
  void stop();

  gtk::MainThreadNotificationCenter& center() { return center_; }
  std::shared_ptr<RunningApplication> frontmostApplication();
  bool activate(const WaylandApplicationKey& key);

 private:
  // The application of the activated window, announced when it is not the
  // one last announced; absent when no window is activated.
  std::optional<WaylandApplicationKey> noteFront();
  void announce(const WaylandApplicationKey& key);
  std::vector<SwayWindow> swayWindows() const;
  WaylandApplicationKey keyOf(const Toplevel& toplevel, std::span<const SwayWindow> windows) const;

  const WaylandWorkspace::Options options_;
  const pid_t ownPid_ = ::getpid();
  gtk::MainThreadNotificationCenter center_;
  std::optional<WaylandApplicationKey> lastAnnounced_;
  // Shared with the change task the connection's thread schedules, which
  // must not run after the workspace has gone.
  std::shared_ptr<std::atomic<bool>> scheduled_ = std::make_shared<std::atomic<bool>>(false);
};

void WaylandWorkspaceCore::start() {
  if (!options_.toplevels)
    return;
  // Where the user is now is no news; only a change from it is.
  lastAnnounced_.reset();
  std::vector<SwayWindow> windows = swayWindows();
  for (const Toplevel& toplevel : options_.toplevels->list()) {
    if (toplevel.activated)
      lastAnnounced_ = keyOf(toplevel, windows);
  }
  // The connection's thread must not wait for the main loop: it schedules one
  // task at a time there, which reads the list as it is by then.
  options_.toplevels->setObserver([weak = weak_from_this(), scheduled = scheduled_] {
    if (scheduled->exchange(true))
      return;
    runOnMainLoop([weak, scheduled] {
      scheduled->store(false);
      if (auto self = weak.lock())
        self->noteFront();
    });
  });
}

void WaylandWorkspaceCore::stop() {
  if (options_.toplevels)
    options_.toplevels->setObserver(nullptr);
  center_.dropPending();
}

std::vector<SwayWindow> WaylandWorkspaceCore::swayWindows() const {
  if (!options_.ipc)
    return {};
  return options_.ipc->windows().value_or(std::vector<SwayWindow>{});
}

WaylandApplicationKey WaylandWorkspaceCore::keyOf(const Toplevel& toplevel,
                                                  std::span<const SwayWindow> windows) const {
  WaylandApplicationKey key{toplevel.appId, 0};
  if (const SwayWindow* window = swayWindowOf(toplevel, windows))
    key.pid = window->pid;
  if (options_.hostBundleIdentifier && key.pid == ownPid_)
    key.appId = *options_.hostBundleIdentifier;
  return key;
}

std::optional<WaylandApplicationKey> WaylandWorkspaceCore::noteFront() {
  if (!options_.toplevels)
    return std::nullopt;
  const std::vector<Toplevel> toplevels = options_.toplevels->list();
  const Toplevel* front = nullptr;
  for (const Toplevel& toplevel : toplevels) {
    if (toplevel.activated)
      front = &toplevel;
  }
  // No window is activated on the way from one to the next; the application
  // in front has not changed yet.
  if (!front)
    return std::nullopt;
  const WaylandApplicationKey key = keyOf(*front, swayWindows());
  if (lastAnnounced_ != key) {
    lastAnnounced_ = key;
    announce(key);
  }
  return key;
}

void WaylandWorkspaceCore::announce(const WaylandApplicationKey& key) {
  center_.postSoon(
      Notification{NSWorkspaceDidActivateApplicationNotification,
                   std::map<std::string, UserInfoValue>{
                       {NSWorkspaceApplicationKey,
                        std::make_shared<WaylandRunningApplication>(key, weak_from_this())}}});
}

std::shared_ptr<RunningApplication> WaylandWorkspaceCore::frontmostApplication() {
  // The compositor may be ahead of the main loop: an application found in
  // front that has not been announced is announced now, so that what the
  // host is told and what it finds agree.
  const auto key = noteFront();
  if (!key)
    return nullptr;
  return std::make_shared<WaylandRunningApplication>(*key, weak_from_this());
}

bool WaylandWorkspaceCore::activate(const WaylandApplicationKey& key) {
  if (!options_.toplevels)
    return false;
  const std::vector<SwayWindow> windows = swayWindows();
  std::vector<Toplevel> own;
  for (const Toplevel& toplevel : options_.toplevels->list()) {
    if (keyOf(toplevel, windows) == key)
      own.push_back(toplevel);
  }
  const Toplevel* chosen = toplevelToActivate(own);
  return chosen && options_.toplevels->activate(chosen->id);
}

// --- WaylandRunningApplication ---

WaylandRunningApplication::WaylandRunningApplication(WaylandApplicationKey key,
                                                     std::weak_ptr<WaylandWorkspaceCore> workspace)
    : key_(std::move(key)), workspace_(std::move(workspace)) {}

std::optional<std::string> WaylandRunningApplication::bundleIdentifier() const {
  if (key_.appId.empty())
    return std::nullopt;
  return key_.appId;
}

bool WaylandRunningApplication::activateWithOptions(std::uint32_t) {
  auto workspace = workspace_.lock();
  return workspace && workspace->activate(key_);
}

// --- WaylandWorkspace ---

WaylandWorkspace::WaylandWorkspace(Options options)
    : core_(std::make_shared<WaylandWorkspaceCore>(std::move(options))) {
  core_->start();
}

WaylandWorkspace::~WaylandWorkspace() {
  core_->stop();
}

NotificationCenter& WaylandWorkspace::notificationCenter() {
  return core_->center();
}

std::shared_ptr<RunningApplication> WaylandWorkspace::frontmostApplication() {
  return core_->frontmostApplication();
}

}  // namespace lumivane::platform::wayland
