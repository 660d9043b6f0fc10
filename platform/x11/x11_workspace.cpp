#include "platform/x11/x11_workspace.h"

#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>
#include <libwnck/libwnck.h>
#include <unistd.h>

#include <map>
#include <utility>

#include "platform/gtk/glib_handles.h"
#include "platform/x11/x11_ewmh.h"

namespace lumivane::platform::x11 {
namespace {

struct GdkWindowDestroy {
  void operator()(GdkWindow* window) const { gdk_window_destroy(window); }
};

std::optional<std::string> nonEmpty(const char* text) {
  if (text == nullptr || *text == '\0')
    return std::nullopt;
  return std::string(text);
}

}  // namespace

// Everything the workspace and its application handles share. It lives on
// the main thread: handles keep only a weak reference, and lock it only in
// activateWithOptions, which runs on the main thread too.
class WorkspaceCore : public std::enable_shared_from_this<WorkspaceCore> {
 public:
  explicit WorkspaceCore(X11Workspace::Options options);
  ~WorkspaceCore();
  WorkspaceCore(const WorkspaceCore&) = delete;
  WorkspaceCore& operator=(const WorkspaceCore&) = delete;

  // Connects to libwnck's announcements; needs the shared owner to exist.
  void start();

  bool connected() const { return screen_ != nullptr; }
  gtk::MainThreadNotificationCenter& center() { return center_; }
  std::shared_ptr<RunningApplication> frontmostApplication();
  bool activate(const ApplicationKey& key);

 private:
  static void onActiveWindowChanged(WnckScreen* screen, WnckWindow* previous, gpointer self);
  static void onWindowClosed(WnckScreen* screen, WnckWindow* window, gpointer self);

  void activeWindowChanged();
  // Notes `active` as the window the user is in now; announces its
  // application when that is not the one last announced. The application's
  // key, absent for no window or one of no known process.
  std::optional<ApplicationKey> noteActive(xcb_window_t active);
  void announce(std::shared_ptr<RunningApplication> application);
  // The application of `window`, made by process `pid` (0: unknown).
  ApplicationKey keyOf(xcb_window_t window, pid_t pid);

  const X11Workspace::Options options_;
  const std::shared_ptr<ActivationOrder> activationOrder_;
  const pid_t ownPid_ = ::getpid();
  gtk::MainThreadNotificationCenter center_;

  // libwnck tells when the active window changes and knows each window's
  // class and group; it is never asked to act.
  gtk::GObjectPtr<WnckHandle> handle_;
  WnckScreen* screen_ = nullptr;  // owned by handle_
  gulong activeWindowChangedId_ = 0;
  gulong windowClosedId_ = 0;

  // The window manager, through GDK's connection.
  std::unique_ptr<Ewmh> ewmh_;
  // A window of ours that nobody sees: a property change on it comes back
  // stamped with the server's time.
  std::unique_ptr<GdkWindow, GdkWindowDestroy> clock_;

  std::optional<ApplicationKey> lastAnnounced_;
};

WorkspaceCore::WorkspaceCore(X11Workspace::Options options)
    : options_(std::move(options)),
      activationOrder_(options_.activationOrder ? options_.activationOrder
                                                : std::make_shared<ActivationOrder>()) {
  GdkDisplay* display = gdk_display_get_default();
  if (display == nullptr || !GDK_IS_X11_DISPLAY(display))
    return;
  handle_.reset(wnck_handle_new(WNCK_CLIENT_TYPE_PAGER));
  screen_ = wnck_handle_get_default_screen(handle_.get());
  if (screen_ == nullptr)
    return;
  wnck_screen_force_update(screen_);

  GdkWindow* root = gdk_screen_get_root_window(gdk_display_get_default_screen(display));
  ewmh_ = std::make_unique<Ewmh>(XGetXCBConnection(gdk_x11_display_get_xdisplay(display)),
                                 static_cast<xcb_window_t>(gdk_x11_window_get_xid(root)));
  GdkWindowAttr attributes{};
  attributes.x = -1;
  attributes.y = -1;
  attributes.width = 1;
  attributes.height = 1;
  attributes.wclass = GDK_INPUT_ONLY;
  attributes.window_type = GDK_WINDOW_TEMP;
  attributes.event_mask = GDK_PROPERTY_CHANGE_MASK;
  clock_.reset(gdk_window_new(root, &attributes, GDK_WA_X | GDK_WA_Y));
}

WorkspaceCore::~WorkspaceCore() {
  if (screen_ != nullptr) {
    if (activeWindowChangedId_ != 0)
      g_signal_handler_disconnect(screen_, activeWindowChangedId_);
    if (windowClosedId_ != 0)
      g_signal_handler_disconnect(screen_, windowClosedId_);
  }
}

void WorkspaceCore::start() {
  if (screen_ == nullptr)
    return;
  // The application in front now is where the user is; only a change from
  // it is news.
  const xcb_window_t active = ewmh_->activeWindow();
  if (const auto pid = ewmh_->processOf(active)) {
    activationOrder_->noteActive(active);
    lastAnnounced_ = keyOf(active, *pid);
  }
  activeWindowChangedId_ = g_signal_connect(
      screen_, "active-window-changed", G_CALLBACK(&WorkspaceCore::onActiveWindowChanged), this);
  windowClosedId_ =
      g_signal_connect(screen_, "window-closed", G_CALLBACK(&WorkspaceCore::onWindowClosed), this);
}

void WorkspaceCore::onActiveWindowChanged(WnckScreen*, WnckWindow*, gpointer self) {
  static_cast<WorkspaceCore*>(self)->activeWindowChanged();
}

void WorkspaceCore::onWindowClosed(WnckScreen*, WnckWindow* window, gpointer self) {
  static_cast<WorkspaceCore*>(self)->activationOrder_->forget(
      static_cast<xcb_window_t>(wnck_window_get_xid(window)));
}

void WorkspaceCore::activeWindowChanged() {
  noteActive(ewmh_->activeWindow());
}

std::optional<ApplicationKey> WorkspaceCore::noteActive(xcb_window_t active) {
  // The window manager clears the active window on the way from one window
  // to the next; the application behind it has not changed yet.
  if (active == XCB_WINDOW_NONE)
    return std::nullopt;
  activationOrder_->noteActive(active);
  const auto pid = ewmh_->processOf(active);
  if (!pid)
    return std::nullopt;
  ApplicationKey key = keyOf(active, *pid);
  if (lastAnnounced_ != key) {
    lastAnnounced_ = key;
    announce(std::make_shared<X11RunningApplication>(key, weak_from_this()));
  }
  return key;
}

void WorkspaceCore::announce(std::shared_ptr<RunningApplication> application) {
  // Never inside libwnck's signal: what observers call updates libwnck's
  // state, which must not happen while libwnck is in the middle of updating
  // it.
  center_.postSoon(Notification{
      NSWorkspaceDidActivateApplicationNotification,
      std::map<std::string, UserInfoValue>{{NSWorkspaceApplicationKey, std::move(application)}}});
}

ApplicationKey WorkspaceCore::keyOf(xcb_window_t window, pid_t pid) {
  ApplicationKey key;
  // From the server, not libwnck: a window just made and already active may
  // not be known to libwnck yet, and must not pass for another application.
  key.bundleIdentifier = nonEmpty(ewmh_->classOf(window).c_str());
  key.pid = pid > 0 ? pid : 0;
  if (key.pid == 0) {
    WnckWindow* known = wnck_handle_get_window(handle_.get(), window);
    key.groupLeader = known ? wnck_window_get_group_leader(known) : window;
  }
  if (options_.hostBundleIdentifier && key.pid == ownPid_)
    key.bundleIdentifier = options_.hostBundleIdentifier;
  return key;
}

std::shared_ptr<RunningApplication> WorkspaceCore::frontmostApplication() {
  if (screen_ == nullptr)
    return nullptr;
  // libwnck applies what the server told it from an idle task. Catching up
  // notes the window the user is in now among the windows last used, and
  // tells libwnck of a window just made.
  wnck_screen_force_update(screen_);
  // The server may be ahead of libwnck: an application found in front that
  // has not been announced is announced now, so that what the host is told
  // and what it finds agree.
  const auto key = noteActive(ewmh_->activeWindow());
  if (!key)
    return nullptr;
  return std::make_shared<X11RunningApplication>(*key, weak_from_this());
}

bool WorkspaceCore::activate(const ApplicationKey& key) {
  if (screen_ == nullptr)
    return false;
  wnck_screen_force_update(screen_);
  const auto clients = ewmh_->clients();
  if (!clients)
    return false;
  std::vector<xcb_window_t> windows;
  for (const auto& client : *clients) {
    if (keyOf(client.window, client.pid) == key)
      windows.push_back(client.window);
  }
  const xcb_window_t chosen = activationOrder_->windowToActivate(windows);
  if (chosen == XCB_WINDOW_NONE)
    return false;
  ewmh_->requestActivation(chosen, gdk_x11_get_server_time(clock_.get()));
  return true;
}

// --- X11RunningApplication ---

X11RunningApplication::X11RunningApplication(ApplicationKey key,
                                             std::weak_ptr<WorkspaceCore> workspace)
    : key_(std::move(key)), workspace_(std::move(workspace)) {}

bool X11RunningApplication::activateWithOptions(std::uint32_t) {
  auto workspace = workspace_.lock();
  return workspace && workspace->activate(key_);
}

// --- X11Workspace ---

X11Workspace::X11Workspace() : X11Workspace(Options{}) {}

X11Workspace::X11Workspace(Options options)
    : core_(std::make_shared<WorkspaceCore>(std::move(options))) {
  core_->start();
}

X11Workspace::~X11Workspace() = default;

NotificationCenter& X11Workspace::notificationCenter() {
  return core_->center();
}

std::shared_ptr<RunningApplication> X11Workspace::frontmostApplication() {
  return core_->frontmostApplication();
}

bool X11Workspace::connected() const {
  return core_->connected();
}

}  // namespace lumivane::platform::x11
