#include "platform/x11/x11_workspace.h"

#include <gdk/gdkx.h>
#include <libwnck/libwnck.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <deque>
#include <map>
#include <set>
#include <utility>

#include "platform/x11/x11_connection.h"

namespace lumivane::platform::x11 {
namespace {

// How long to wait for the server to tell its time before an activation. It
// answers within a round trip; the bound only keeps a wedged server from
// holding the main thread.
constexpr std::chrono::milliseconds kServerTimeBound{2000};

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
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
  X11NotificationCenter& center() { return center_; }
  std::shared_ptr<RunningApplication> frontmostApplication();
  bool activate(const ApplicationKey& key);

 private:
  static void onActiveWindowChanged(WnckScreen* screen, WnckWindow* previous, gpointer self);
  static void onWindowClosed(WnckScreen* screen, WnckWindow* window, gpointer self);
  static gboolean deliverPending(gpointer weakCore);
  static void releaseDeliveryContext(gpointer weakCore);

  void activeWindowChanged();
  void announce(std::shared_ptr<RunningApplication> application);
  ApplicationKey keyOf(WnckWindow* window);
  pid_t pidFromResources(xcb_window_t window);
  std::optional<std::set<xcb_window_t>> managedWindows();
  bool exists(xcb_window_t window);
  xcb_timestamp_t serverTime();

  const X11Workspace::Options options_;
  const pid_t ownPid_ = ::getpid();
  X11NotificationCenter center_;

  GdkDisplay* display_ = nullptr;
  std::unique_ptr<WnckHandle, GObjectUnref> handle_;
  WnckScreen* screen_ = nullptr;  // owned by handle_
  gulong activeWindowChangedId_ = 0;
  gulong windowClosedId_ = 0;

  // Our own connection, for what libwnck does not ask: the process behind a
  // window that names none, the server's time, the window manager's list of
  // windows as it is now.
  std::unique_ptr<XcbConnection> xcb_;
  xcb_window_t clockWindow_ = XCB_WINDOW_NONE;
  xcb_atom_t clockProperty_ = XCB_ATOM_NONE;

  std::optional<ApplicationKey> lastAnnounced_;
  // When each window was last active, as a count of activations, so that an
  // application comes back with the window the user left it in.
  std::map<gulong, std::uint64_t> lastActive_;
  std::uint64_t activations_ = 0;

  std::deque<Notification> pending_;
  guint deliverySource_ = 0;
};

WorkspaceCore::WorkspaceCore(X11Workspace::Options options) : options_(std::move(options)) {
  display_ = gdk_display_get_default();
  if (display_ == nullptr || !GDK_IS_X11_DISPLAY(display_))
    return;
  // Pager: the host asks for another application only when the user wants
  // something done there (a paste), and the window manager should treat the
  // request as the user's own rather than as an application stealing focus.
  handle_.reset(wnck_handle_new(WNCK_CLIENT_TYPE_PAGER));
  screen_ = wnck_handle_get_default_screen(handle_.get());
  if (screen_ == nullptr)
    return;
  wnck_screen_force_update(screen_);

  xcb_ = XcbConnection::open(gdk_display_get_name(display_), nullptr);
  if (!xcb_)
    return;
  xcb_connection_t* c = xcb_->get();
  // A window of our own that nobody sees: a property change on it comes back
  // stamped with the server's time.
  clockWindow_ = xcb_generate_id(c);
  const std::uint32_t mask = XCB_CW_OVERRIDE_REDIRECT | XCB_CW_EVENT_MASK;
  const std::uint32_t values[] = {1, XCB_EVENT_MASK_PROPERTY_CHANGE};
  if (!xcb_->succeeded(xcb_create_window_checked(c, 0, clockWindow_, xcb_->root(), -1, -1, 1, 1, 0,
                                                 XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT,
                                                 mask, values))) {
    clockWindow_ = XCB_WINDOW_NONE;
  }
  clockProperty_ = xcb_->atom("_LUMIVANE_SERVER_TIME");
}

WorkspaceCore::~WorkspaceCore() {
  if (deliverySource_ != 0)
    g_source_remove(deliverySource_);
  if (screen_ != nullptr) {
    if (activeWindowChangedId_ != 0)
      g_signal_handler_disconnect(screen_, activeWindowChangedId_);
    if (windowClosedId_ != 0)
      g_signal_handler_disconnect(screen_, windowClosedId_);
  }
  if (xcb_ && clockWindow_ != XCB_WINDOW_NONE) {
    xcb_destroy_window(xcb_->get(), clockWindow_);
    xcb_flush(xcb_->get());
  }
}

void WorkspaceCore::start() {
  if (screen_ == nullptr)
    return;
  // The application in front now is where the user is; only a change from
  // it is news.
  if (WnckWindow* active = wnck_screen_get_active_window(screen_)) {
    lastActive_[wnck_window_get_xid(active)] = ++activations_;
    lastAnnounced_ = keyOf(active);
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
  static_cast<WorkspaceCore*>(self)->lastActive_.erase(wnck_window_get_xid(window));
}

void WorkspaceCore::activeWindowChanged() {
  WnckWindow* active = wnck_screen_get_active_window(screen_);
  // The window manager clears the active window on the way from one window
  // to the next; the application behind it has not changed yet.
  if (active == nullptr)
    return;
  lastActive_[wnck_window_get_xid(active)] = ++activations_;
  ApplicationKey key = keyOf(active);
  if (lastAnnounced_ == key)
    return;
  lastAnnounced_ = key;
  announce(std::make_shared<X11RunningApplication>(std::move(key), weak_from_this()));
}

void WorkspaceCore::announce(std::shared_ptr<RunningApplication> application) {
  pending_.push_back(Notification{
      NSWorkspaceDidActivateApplicationNotification,
      std::map<std::string, UserInfoValue>{{NSWorkspaceApplicationKey, std::move(application)}}});
  if (deliverySource_ != 0)
    return;
  // Observers run as a task of their own, never inside libwnck's signal: what
  // they call (frontmostApplication among others) updates libwnck's state,
  // which must not happen while libwnck is in the middle of updating it.
  auto context = std::make_unique<std::weak_ptr<WorkspaceCore>>(weak_from_this());
  deliverySource_ = g_idle_add_full(G_PRIORITY_DEFAULT, &WorkspaceCore::deliverPending,
                                    context.release(), &WorkspaceCore::releaseDeliveryContext);
}

gboolean WorkspaceCore::deliverPending(gpointer weakCore) {
  auto self = static_cast<std::weak_ptr<WorkspaceCore>*>(weakCore)->lock();
  if (!self)
    return G_SOURCE_REMOVE;
  self->deliverySource_ = 0;
  std::deque<Notification> due;
  due.swap(self->pending_);
  for (const Notification& notification : due)
    self->center_.post(notification);
  return G_SOURCE_REMOVE;
}

void WorkspaceCore::releaseDeliveryContext(gpointer weakCore) {
  std::unique_ptr<std::weak_ptr<WorkspaceCore>> owned(
      static_cast<std::weak_ptr<WorkspaceCore>*>(weakCore));
}

ApplicationKey WorkspaceCore::keyOf(WnckWindow* window) {
  ApplicationKey key;
  key.bundleIdentifier = nonEmpty(wnck_window_get_class_group_name(window));
  key.pid = wnck_window_get_pid(window);
  if (key.pid <= 0)
    key.pid = pidFromResources(static_cast<xcb_window_t>(wnck_window_get_xid(window)));
  if (key.pid <= 0) {
    key.pid = 0;
    key.groupLeader = wnck_window_get_group_leader(window);
  }
  if (options_.hostBundleIdentifier && key.pid == ownPid_)
    key.bundleIdentifier = options_.hostBundleIdentifier;
  return key;
}

pid_t WorkspaceCore::pidFromResources(xcb_window_t window) {
  return xcb_->processOfClient(window).value_or(0);
}

std::optional<std::set<xcb_window_t>> WorkspaceCore::managedWindows() {
  if (!xcb_ || !xcb_->alive())
    return std::nullopt;
  auto list =
      xcb_->getProperty(xcb_->root(), xcb_->atom("_NET_CLIENT_LIST"), false, XCB_ATOM_WINDOW);
  if (!list)
    return std::nullopt;
  const auto windows = list->values32();
  return std::set<xcb_window_t>(windows.begin(), windows.end());
}

bool WorkspaceCore::exists(xcb_window_t window) {
  xcb_connection_t* c = xcb_->get();
  xcb_generic_error_t* rawError = nullptr;
  XcbReply<xcb_get_window_attributes_reply_t> attributes(
      xcb_get_window_attributes_reply(c, xcb_get_window_attributes(c, window), &rawError));
  XcbReply<xcb_generic_error_t> error(rawError);
  return attributes != nullptr;
}

xcb_timestamp_t WorkspaceCore::serverTime() {
  if (!xcb_ || clockWindow_ == XCB_WINDOW_NONE)
    return XCB_CURRENT_TIME;
  xcb_connection_t* c = xcb_->get();
  xcb_change_property(c, XCB_PROP_MODE_APPEND, clockWindow_, clockProperty_, XCB_ATOM_STRING, 8, 0,
                      nullptr);
  xcb_flush(c);
  const auto deadline = std::chrono::steady_clock::now() + kServerTimeBound;
  for (;;) {
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c)}) {
      if ((event->response_type & 0x7f) != XCB_PROPERTY_NOTIFY)
        continue;
      const auto* change = reinterpret_cast<const xcb_property_notify_event_t*>(event.get());
      if (change->window == clockWindow_ && change->atom == clockProperty_)
        return change->time;
    }
    if (!xcb_->alive())
      return XCB_CURRENT_TIME;
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(
        deadline - std::chrono::steady_clock::now());
    if (left.count() <= 0)
      return XCB_CURRENT_TIME;
    pollfd ready{xcb_get_file_descriptor(c), POLLIN, 0};
    ::poll(&ready, 1, static_cast<int>(left.count()));
  }
}

std::shared_ptr<RunningApplication> WorkspaceCore::frontmostApplication() {
  if (screen_ == nullptr)
    return nullptr;
  // libwnck applies what the server told it from an idle task; catch up so
  // the answer is the active window of now, not of the last idle moment.
  wnck_screen_force_update(screen_);
  WnckWindow* active = wnck_screen_get_active_window(screen_);
  if (active == nullptr)
    return nullptr;
  return std::make_shared<X11RunningApplication>(keyOf(active), weak_from_this());
}

bool WorkspaceCore::activate(const ApplicationKey& key) {
  if (screen_ == nullptr)
    return false;
  wnck_screen_force_update(screen_);
  // libwnck forgets a window only once the main loop has carried the news;
  // the window manager's own list says whether the window is still there.
  const auto managed = managedWindows();
  if (!managed)
    return false;
  // The application's windows, the most recently active first; among those
  // never active, the topmost first (the stacked list runs bottom to top).
  std::vector<std::pair<std::uint64_t, WnckWindow*>> candidates;
  for (GList* item = wnck_screen_get_windows_stacked(screen_); item != nullptr; item = item->next) {
    auto* window = WNCK_WINDOW(item->data);
    const gulong xid = wnck_window_get_xid(window);
    if (managed->count(static_cast<xcb_window_t>(xid)) == 0 || !(keyOf(window) == key))
      continue;
    const auto seen = lastActive_.find(xid);
    const std::uint64_t when = seen == lastActive_.end() ? 0 : seen->second;
    candidates.emplace_back(when, window);
  }
  std::reverse(candidates.begin(), candidates.end());
  std::stable_sort(candidates.begin(), candidates.end(),
                   [](const auto& a, const auto& b) { return a.first > b.first; });
  WnckWindow* chosen = nullptr;
  for (const auto& [when, window] : candidates) {
    // A program that has just quit leaves its windows in the window manager's
    // list for a moment after the server has destroyed them.
    if (exists(static_cast<xcb_window_t>(wnck_window_get_xid(window)))) {
      chosen = window;
      break;
    }
  }
  if (chosen == nullptr)
    return false;
  xcb_timestamp_t when = serverTime();
  // Without the server's time, the last time GDK saw the user act is the best
  // stamp there is; a request stamped 0 is one the window manager may ignore.
  if (when == XCB_CURRENT_TIME)
    when = gdk_x11_display_get_user_time(display_);
  if (when == XCB_CURRENT_TIME)
    return false;
  wnck_window_activate(chosen, when);
  gdk_display_flush(display_);
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

// --- X11NotificationCenter ---

void X11NotificationCenter::addObserver(const std::string& name,
                                        std::function<void(const Notification&)> callback) {
  std::lock_guard lock(mutex_);
  observers_.push_back(
      {name, std::make_shared<std::function<void(const Notification&)>>(std::move(callback))});
}

void X11NotificationCenter::post(const Notification& notification) {
  // Observers may add observers; they are called from a copy of the list.
  std::vector<std::shared_ptr<std::function<void(const Notification&)>>> due;
  {
    std::lock_guard lock(mutex_);
    for (const Observer& observer : observers_) {
      if (observer.name == notification.name)
        due.push_back(observer.callback);
    }
  }
  for (const auto& callback : due)
    (*callback)(notification);
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
