#include "platform/gtk/global_shortcuts_portal.h"

#include <string_view>

namespace lumivane::platform::gtk {
namespace {

constexpr const char* kPortal = "org.freedesktop.portal.Desktop";
constexpr const char* kPortalPath = "/org/freedesktop/portal/desktop";
constexpr const char* kInterface = "org.freedesktop.portal.GlobalShortcuts";
constexpr const char* kShortcutId = "hotkey";

// The answer to one request, once it has come.
struct Answer {
  bool came = false;
  guint32 response = 2;
  GVariantPtr results;
};

// The portal's object for a request made with `token`: its path is known
// before the call, so its answer cannot come before anyone listens.
std::string requestPath(GDBusConnection* bus, const std::string& token) {
  std::string sender = g_dbus_connection_get_unique_name(bus);
  if (!sender.empty() && sender.front() == ':')
    sender.erase(0, 1);
  for (char& c : sender) {
    if (c == '.')
      c = '_';
  }
  return std::string(kPortalPath) + "/request/" + sender + "/" + token;
}

GVariant* options(const std::string& token, const char* sessionToken = nullptr) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&builder, "{sv}", "handle_token", g_variant_new_string(token.c_str()));
  if (sessionToken)
    g_variant_builder_add(&builder, "{sv}", "session_handle_token",
                          g_variant_new_string(sessionToken));
  return g_variant_builder_end(&builder);
}

}  // namespace

std::unique_ptr<GlobalShortcutsPortal> GlobalShortcutsPortal::offeredOn(GDBusConnection* bus) {
  if (!bus)
    return nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus, kPortal, kPortalPath, "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kInterface, "version"), G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE,
      static_cast<gint>(std::chrono::milliseconds(kProbeBound).count()), nullptr, nullptr);
  if (!reply)
    return nullptr;
  g_variant_unref(reply);
  return std::make_unique<GlobalShortcutsPortal>(bus);
}

GlobalShortcutsPortal::GlobalShortcutsPortal(GDBusConnection* bus)
    : bus_(G_DBUS_CONNECTION(g_object_ref(bus))) {}

GlobalShortcutsPortal::~GlobalShortcutsPortal() {
  closeSession();
}

std::string GlobalShortcutsPortal::newToken() {
  return "lumivane" + std::to_string(++tokens_);
}

GVariantPtr GlobalShortcutsPortal::request(const char* method,
                                           const std::string& token,
                                           GVariant* parameters,
                                           std::string* error) {
  GVariantPtr owned(g_variant_ref_sink(parameters));
  const std::string path = requestPath(bus_.get(), token);
  // The answer is waited for on a context of its own, so that nothing else
  // the main loop has runs meanwhile.
  GMainContext* context = g_main_context_new();
  g_main_context_push_thread_default(context);
  Answer answer;
  auto subscribe = [&](const std::string& at) {
    return DBusHandle::subscription(
        bus_.get(), g_dbus_connection_signal_subscribe(
                        bus_.get(), kPortal, "org.freedesktop.portal.Request", "Response",
                        at.c_str(), nullptr, G_DBUS_SIGNAL_FLAGS_NONE,
                        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                           GVariant* parameters, gpointer data) {
                          auto* answer = static_cast<Answer*>(data);
                          GVariant* results = nullptr;
                          g_variant_get(parameters, "(u@a{sv})", &answer->response, &results);
                          answer->results.reset(results);
                          answer->came = true;
                        },
                        &answer, nullptr));
  };
  DBusHandle expected = subscribe(path);
  DBusHandle actual;
  GError* rawError = nullptr;
  GVariant* reply = g_dbus_connection_call_sync(
      bus_.get(), kPortal, kPortalPath, kInterface, method, owned.get(), G_VARIANT_TYPE("(o)"),
      G_DBUS_CALL_FLAGS_NONE, static_cast<gint>(std::chrono::milliseconds(kAnswerBound).count()),
      nullptr, &rawError);
  if (reply) {
    // Portals before the token was known chose the path themselves.
    const gchar* handle = nullptr;
    g_variant_get(reply, "(&o)", &handle);
    if (path != handle)
      actual = subscribe(handle);
    g_variant_unref(reply);
    const gint64 deadline =
        g_get_monotonic_time() + std::chrono::microseconds(kAnswerBound).count();
    GSource* timeout =
        g_timeout_source_new(static_cast<guint>(std::chrono::milliseconds(kAnswerBound).count()));
    g_source_set_callback(
        timeout, [](gpointer) { return G_SOURCE_REMOVE; }, nullptr, nullptr);
    g_source_attach(timeout, context);
    while (!answer.came && g_get_monotonic_time() < deadline)
      g_main_context_iteration(context, TRUE);
    g_source_destroy(timeout);
    g_source_unref(timeout);
  }
  expected.reset();
  actual.reset();
  g_main_context_pop_thread_default(context);
  g_main_context_unref(context);
  if (!reply) {
    GErrorPtr callError(rawError);
    if (error)
      *error = std::string("the portal refused: ") + callError->message;
    return nullptr;
  }
  if (!answer.came || answer.response != 0) {
    if (error)
      *error = !answer.came           ? "the portal did not answer"
               : answer.response == 1 ? "the user declined"
                                      : "the portal could not do it";
    return nullptr;
  }
  return std::move(answer.results);
}

bool GlobalShortcutsPortal::bind(const std::string& trigger,
                                 const std::string& description,
                                 std::string* error) {
  closeSession();
  const std::string token = newToken();
  const std::string sessionToken = newToken();
  GVariantPtr created =
      request("CreateSession", token,
              g_variant_new("(@a{sv})", options(token, sessionToken.c_str())), error);
  const gchar* session = nullptr;
  if (!created || !g_variant_lookup(created.get(), "session_handle", "&s", &session) ||
      !g_variant_is_object_path(session)) {
    if (created && error)
      *error = "the portal made no session";
    return false;
  }
  session_ = session;

  auto subscribe = [&](const char* member, bool pressed) {
    return DBusHandle::subscription(
        bus_.get(),
        g_dbus_connection_signal_subscribe(
            bus_.get(), kPortal, kInterface, member, kPortalPath, nullptr,
            G_DBUS_SIGNAL_FLAGS_NONE,
            pressed ? +[](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                          const gchar*, GVariant* parameters, gpointer self) {
              static_cast<GlobalShortcutsPortal*>(self)->delivered(parameters, true);
            }
                    : +[](GDBusConnection*, const gchar*, const gchar*, const gchar*,
                          const gchar*, GVariant* parameters, gpointer self) {
                        static_cast<GlobalShortcutsPortal*>(self)->delivered(parameters, false);
                      },
            this, nullptr));
  };
  activated_ = subscribe("Activated", true);
  deactivated_ = subscribe("Deactivated", false);

  GVariantBuilder shortcut;
  g_variant_builder_init(&shortcut, G_VARIANT_TYPE_VARDICT);
  g_variant_builder_add(&shortcut, "{sv}", "description",
                        g_variant_new_string(description.c_str()));
  g_variant_builder_add(&shortcut, "{sv}", "preferred_trigger",
                        g_variant_new_string(trigger.c_str()));
  GVariantBuilder shortcuts;
  g_variant_builder_init(&shortcuts, G_VARIANT_TYPE("a(sa{sv})"));
  g_variant_builder_add(&shortcuts, "(s@a{sv})", kShortcutId, g_variant_builder_end(&shortcut));
  const std::string bindToken = newToken();
  GVariantPtr bound =
      request("BindShortcuts", bindToken,
              g_variant_new("(o@a(sa{sv})s@a{sv})", session_.c_str(),
                            g_variant_builder_end(&shortcuts), "", options(bindToken)),
              error);
  // The portal answers with the shortcuts it bound; the user may have bound
  // none.
  GVariantPtr list(
      bound ? g_variant_lookup_value(bound.get(), "shortcuts", G_VARIANT_TYPE("a(sa{sv})"))
            : nullptr);
  if (!list || g_variant_n_children(list.get()) == 0) {
    if (bound && error)
      *error = "the portal bound nothing";
    closeSession();
    return false;
  }
  return true;
}

void GlobalShortcutsPortal::delivered(GVariant* parameters, bool pressed) {
  const gchar* session = nullptr;
  const gchar* id = nullptr;
  if (!g_variant_is_of_type(parameters, G_VARIANT_TYPE("(osta{sv})")))
    return;
  g_variant_get(parameters, "(&o&sta{sv})", &session, &id, nullptr, nullptr);
  if (session_ == session && std::string_view(id) == kShortcutId && onActivated)
    onActivated(pressed);
}

void GlobalShortcutsPortal::unbind() {
  closeSession();
}

void GlobalShortcutsPortal::closeSession() {
  activated_.reset();
  deactivated_.reset();
  if (session_.empty())
    return;
  g_dbus_connection_call(bus_.get(), kPortal, session_.c_str(), "org.freedesktop.portal.Session",
                         "Close", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr,
                         nullptr);
  g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
  session_.clear();
}

}  // namespace lumivane::platform::gtk
