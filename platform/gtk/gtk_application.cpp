#include "platform/gtk/gtk_application.h"

#include <glib-unix.h>
#include <gtk/gtk.h>
#include <signal.h>

#include <cmath>
#include <filesystem>
#include <utility>

#include "platform/gtk/gtk_window.h"
#include "platform/gtk/window_system.h"

namespace lumivane::platform::gtk {
namespace {

// The seam's view of a GDK event: mouse buttons 1 and 3, motion and keys.
std::optional<Event> eventFromGdk(GdkEvent* gdkEvent) {
  Event event;
  guint button = 0;
  gdk_event_get_button(gdkEvent, &button);
  GdkModifierType state{};
  gdk_event_get_state(gdkEvent, &state);
  switch (gdk_event_get_event_type(gdkEvent)) {
    case GDK_BUTTON_PRESS:
    case GDK_2BUTTON_PRESS:
    case GDK_3BUTTON_PRESS:
      if (button != 1 && button != 3) {
        return std::nullopt;
      }
      event.type = button == 1 ? EventType::leftMouseDown : EventType::rightMouseDown;
      break;
    case GDK_BUTTON_RELEASE:
      if (button != 1 && button != 3) {
        return std::nullopt;
      }
      event.type = button == 1 ? EventType::leftMouseUp : EventType::rightMouseUp;
      break;
    case GDK_MOTION_NOTIFY:
      event.type = (state & GDK_BUTTON1_MASK) ? EventType::leftMouseDragged : EventType::mouseMoved;
      break;
    case GDK_KEY_PRESS:
      event.type = EventType::keyDown;
      break;
    case GDK_KEY_RELEASE:
      event.type = EventType::keyUp;
      break;
    default:
      return std::nullopt;
  }
  event.modifierFlags = modifierFlagsOfGdkState(state);
  event.timestamp = gdk_event_get_time(gdkEvent) / 1000.0;
  // In the window's own points, from its lower-left corner.
  double rootX = 0;
  double rootY = 0;
  GdkWindow* window = gdk_event_get_window(gdkEvent);
  if (window && gdk_event_get_root_coords(gdkEvent, &rootX, &rootY)) {
    GdkWindow* toplevel = gdk_window_get_toplevel(window);
    int originX = 0;
    int originY = 0;
    gdk_window_get_origin(toplevel, &originX, &originY);
    event.locationInWindow =
        CGPoint{rootX - originX, gdk_window_get_height(toplevel) - (rootY - originY)};
  }
  return event;
}

}  // namespace

bool sessionBusAvailable() {
  const char* address = g_getenv("DBUS_SESSION_BUS_ADDRESS");
  if (address && *address) {
    return true;
  }
  const char* runtime = g_getenv("XDG_RUNTIME_DIR");
  std::error_code error;
  return runtime && *runtime &&
         std::filesystem::exists(std::filesystem::path(runtime) / "bus", error);
}

bool pressRunningHostHotKey(const std::string& applicationId, std::string* error) {
  auto fail = [&](std::string why) {
    if (error)
      *error = std::move(why);
    return false;
  };
  if (!g_application_id_is_valid(applicationId.c_str()))
    return fail("not an application id: " + applicationId);
  if (!sessionBusAvailable())
    return fail("no session bus to reach a running Lumivane through");
  GError* rawError = nullptr;
  GObjectPtr<GDBusConnection> bus(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, &rawError));
  if (!bus) {
    GErrorPtr busError(rawError);
    return fail(std::string("cannot reach the session bus: ") + busError->message);
  }
  // GApplication serves its actions at the path its id names.
  GCharPtr path(g_strdup_printf("/%s", applicationId.c_str()));
  for (gchar* c = path.get(); *c; ++c) {
    if (*c == '.')
      *c = '/';
    else if (*c == '-')
      *c = '_';
  }
  constexpr gint kAnswerBoundMilliseconds = 10000;
  GVariant* reply = g_dbus_connection_call_sync(
      bus.get(), applicationId.c_str(), path.get(), "org.gtk.Actions", "Activate",
      g_variant_new("(s@av@a{sv})", kCaptureAction,
                    g_variant_new_array(G_VARIANT_TYPE_VARIANT, nullptr, 0),
                    g_variant_new_array(G_VARIANT_TYPE("{sv}"), nullptr, 0)),
      nullptr, G_DBUS_CALL_FLAGS_NO_AUTO_START, kAnswerBoundMilliseconds, nullptr, &rawError);
  if (!reply) {
    GErrorPtr callError(rawError);
    if (g_error_matches(callError.get(), G_DBUS_ERROR, G_DBUS_ERROR_SERVICE_UNKNOWN) ||
        g_error_matches(callError.get(), G_DBUS_ERROR, G_DBUS_ERROR_NAME_HAS_NO_OWNER)) {
      return fail("Lumivane is not running");
    }
    return fail(std::string("the running Lumivane did not answer: ") + callError->message);
  }
  g_variant_unref(reply);
  return true;
}

std::uint64_t modifierFlagsOfGdkState(guint state) {
  std::uint64_t flags = 0;
  if (state & GDK_SHIFT_MASK) {
    flags |= NSEventModifierFlagShift;
  }
  if (state & GDK_CONTROL_MASK) {
    flags |= NSEventModifierFlagCommand;
  }
  if (state & GDK_MOD1_MASK) {
    flags |= NSEventModifierFlagOption;
  }
  if (state & (GDK_SUPER_MASK | GDK_MOD4_MASK)) {
    flags |= NSEventModifierFlagControl;
  }
  return flags;
}

bool initializeGtk(const char* gdkBackend, std::string* error) {
  // Once GTK runs there is nothing left to do; GDK would also keep, never
  // free, a second list of allowed backends.
  if (gdk_display_get_default()) {
    return true;
  }
  // Windows take their WM_CLASS from these. The program name goes first; the
  // class after GTK has started, which sets one of its own from the name
  // (dropping, not freeing, one set before).
  if (!g_get_prgname() || std::string_view(g_get_prgname()) != kProgramName) {
    g_set_prgname(kProgramName);
  }
  // Only the display the desktop backend speaks to beside GTK.
  gdk_set_allowed_backends(gdkBackend);
  if (!gtk_init_check(nullptr, nullptr)) {
    if (error) {
      *error = std::string("GTK cannot open the ") + gdkBackend + " display";
    }
    return false;
  }
  gdk_set_program_class(kProgramClass);
  return true;
}

// --- Termination hooks --------------------------------------------------------

GtkHostApplication::TerminationHook::TerminationHook(TerminationHook&& other) noexcept
    : owner_(std::move(other.owner_)), id_(std::exchange(other.id_, 0)) {}

GtkHostApplication::TerminationHook& GtkHostApplication::TerminationHook::operator=(
    TerminationHook&& other) noexcept {
  if (this != &other) {
    TerminationHook discarded(std::move(*this));
    owner_ = std::move(other.owner_);
    id_ = std::exchange(other.id_, 0);
  }
  return *this;
}

GtkHostApplication::TerminationHook::~TerminationHook() {
  if (auto owner = owner_.lock(); owner && id_ != 0) {
    (*owner)->hooks_.erase(id_);
  }
}

GtkHostApplication::TerminationHook GtkHostApplication::addTerminationHook(
    std::function<void()> hook) {
  if (!hook) {
    return {};
  }
  const std::uint64_t id = nextHookId_++;
  hooks_.emplace(id, std::move(hook));
  return TerminationHook(self_, id);
}

// --- Events being handled -------------------------------------------------------

GtkHostApplication::HandlingEvent::HandlingEvent(GtkHostApplication& application,
                                                 const Event& event)
    : application_(application) {
  application_.handling_.push_back(event);
}

GtkHostApplication::HandlingEvent::~HandlingEvent() {
  application_.handling_.pop_back();
}

// --- The application --------------------------------------------------------------

GtkHostApplication::GtkHostApplication(GtkApplicationOptions options)
    : options_(std::move(options)),
      windows_(std::make_shared<GtkWindowList>(
          options_.windowSystem ? options_.windowSystem : std::make_shared<PlainWindowSystem>())),
      self_(std::make_shared<GtkHostApplication*>(this)) {
  windows_->onLastWindowClosed = [this] { lastWindowClosed(); };
}

GtkHostApplication::~GtkHostApplication() {
  windows_->onLastWindowClosed = nullptr;
  if (gapplication_) {
    g_signal_handlers_disconnect_by_data(gapplication_.get(), this);
    // The action may outlive this object in the bus's export of it.
    if (GAction* capture =
            g_action_map_lookup_action(G_ACTION_MAP(gapplication_.get()), kCaptureAction)) {
      g_signal_handlers_disconnect_by_data(capture, this);
    }
  }
}

void GtkHostApplication::setDelegate(std::weak_ptr<ApplicationDelegate> delegate) {
  delegate_ = std::move(delegate);
}

std::shared_ptr<ApplicationDelegate> GtkHostApplication::delegate() const {
  return delegate_.lock();
}

std::optional<Event> GtkHostApplication::currentEvent() const {
  if (!handling_.empty()) {
    return handling_.back();
  }
  GdkEvent* current = gtk_get_current_event();
  if (!current) {
    return std::nullopt;
  }
  auto event = eventFromGdk(current);
  gdk_event_free(current);
  return event;
}

void GtkHostApplication::activateIgnoringOtherApps(bool /*flag*/) {
  windows_->hostActivated();
  if (auto window = windows_->frontCandidate()) {
    window->show(/*focus=*/true);
  }
}

void GtkHostApplication::terminate() {
  if (!terminating_) {
    terminating_ = true;
    // The delegate first: what it gives back (the user's clipboard) is what
    // the hooks then hand on.
    if (auto delegate = delegate_.lock()) {
      delegate->applicationWillTerminate(
          Notification{NSApplicationWillTerminateNotification, std::nullopt});
    }
    // Taken first: a hook that removes itself or adds another while the hooks
    // run changes nothing here, and each hook runs once.
    auto hooks = std::exchange(hooks_, {});
    for (auto& [id, hook] : hooks) {
      hook();
    }
  }
  if (loop_) {
    g_main_loop_quit(loop_);
  }
}

bool GtkHostApplication::sendAction(const std::string& selector,
                                    const std::shared_ptr<Responder>& target) {
  if (selector.empty()) {
    return false;
  }
  if (target && target->performAction(selector)) {
    return true;
  }
  if (auto delegate = delegate_.lock(); delegate && delegate->performAction(selector)) {
    return true;
  }
  if (selector == "terminate:") {
    terminate();
    return true;
  }
  return false;
}

bool GtkHostApplication::registerUniquely() {
  if (!options_.unique || !g_application_id_is_valid(options_.applicationId.c_str()) ||
      !sessionBusAvailable()) {
    return true;
  }
  gapplication_ = GObjectPtr<GApplication>(
      g_application_new(options_.applicationId.c_str(), G_APPLICATION_DEFAULT_FLAGS));
  g_signal_connect(gapplication_.get(), "activate", G_CALLBACK(+[](GApplication*, gpointer self) {
                     static_cast<GtkHostApplication*>(self)->reopen();
                   }),
                   this);
  GObjectPtr<GSimpleAction> capture(g_simple_action_new(kCaptureAction, nullptr));
  g_signal_connect(capture.get(), "activate",
                   G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer self) {
                     auto* application = static_cast<GtkHostApplication*>(self);
                     if (application->captureAsked_ && !application->terminating_)
                       application->captureAsked_();
                   }),
                   this);
  g_action_map_add_action(G_ACTION_MAP(gapplication_.get()), G_ACTION(capture.get()));
  GError* rawError = nullptr;
  if (!g_application_register(gapplication_.get(), nullptr, &rawError)) {
    // The bus is there but does not answer: run on our own.
    GErrorPtr error(rawError);
    g_signal_handlers_disconnect_by_data(gapplication_.get(), this);
    gapplication_.reset();
    return true;
  }
  if (!g_application_get_is_remote(gapplication_.get())) {
    return true;
  }
  // Another host runs: it shows itself, this one goes without a word.
  g_application_activate(gapplication_.get());
  if (GDBusConnection* bus = g_application_get_dbus_connection(gapplication_.get())) {
    g_dbus_connection_flush_sync(bus, nullptr, nullptr);
  }
  return false;
}

void GtkHostApplication::reopen() {
  if (terminating_) {
    return;
  }
  if (auto delegate = delegate_.lock()) {
    delegate->applicationShouldHandleReopen(windows_->anyVisible());
  }
}

void GtkHostApplication::lastWindowClosed() {
  auto delegate = delegate_.lock();
  if (delegate && delegate->applicationShouldTerminateAfterLastWindowClosed()) {
    terminate();
  }
}

void GtkHostApplication::launch() {
  if (auto delegate = delegate_.lock()) {
    delegate->applicationSupportsSecureRestorableState();
  }
  // Looked up again: answering the question above may have released it.
  if (auto delegate = delegate_.lock(); delegate && !terminating_) {
    delegate->applicationDidFinishLaunching(
        Notification{NSApplicationDidFinishLaunchingNotification, std::nullopt});
  }
}

int GtkHostApplication::run() {
  if (terminating_ || loop_ || !registerUniquely()) {
    return 0;
  }
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                &g_main_loop_unref);
  // Ending the session, a kill or Control-C end the host the way its Quit
  // item does, so the termination hooks run.
  std::vector<GSourcePtr> signals;
  for (const int signal : {SIGTERM, SIGINT, SIGHUP}) {
    GSource* source = g_unix_signal_source_new(signal);
    g_source_set_callback(
        source,
        [](gpointer self) -> gboolean {
          static_cast<GtkHostApplication*>(self)->terminate();
          return G_SOURCE_CONTINUE;
        },
        this, nullptr);
    g_source_attach(source, nullptr);
    signals.emplace_back(source);
  }
  auto launching = addMainTimeout(
      0,
      [this] {
        launch();
        return false;
      },
      G_PRIORITY_HIGH);
  loop_ = loop.get();
  if (!terminating_) {
    g_main_loop_run(loop_);
  }
  loop_ = nullptr;
  return 0;
}

}  // namespace lumivane::platform::gtk
