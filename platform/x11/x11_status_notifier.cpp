#include "platform/x11/x11_status_notifier.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <utility>

#include "platform/utf8.h"
#include "platform/x11/x11_application.h"

namespace lumivane::platform::x11 {
namespace {

constexpr const char* kItemInterface = "org.kde.StatusNotifierItem";

constexpr const char* kItemIntrospection = R"xml(<node>
  <interface name="org.kde.StatusNotifierItem">
    <property name="Category" type="s" access="read"/>
    <property name="Id" type="s" access="read"/>
    <property name="Title" type="s" access="read"/>
    <property name="Status" type="s" access="read"/>
    <property name="WindowId" type="i" access="read"/>
    <property name="IconThemePath" type="s" access="read"/>
    <property name="IconName" type="s" access="read"/>
    <property name="IconPixmap" type="a(iiay)" access="read"/>
    <property name="OverlayIconName" type="s" access="read"/>
    <property name="OverlayIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionIconName" type="s" access="read"/>
    <property name="AttentionIconPixmap" type="a(iiay)" access="read"/>
    <property name="AttentionMovieName" type="s" access="read"/>
    <property name="ToolTip" type="(sa(iiay)ss)" access="read"/>
    <property name="ItemIsMenu" type="b" access="read"/>
    <property name="Menu" type="o" access="read"/>
    <method name="ContextMenu">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Activate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="SecondaryActivate">
      <arg name="x" type="i" direction="in"/>
      <arg name="y" type="i" direction="in"/>
    </method>
    <method name="Scroll">
      <arg name="delta" type="i" direction="in"/>
      <arg name="orientation" type="s" direction="in"/>
    </method>
    <signal name="NewTitle"/>
    <signal name="NewIcon"/>
    <signal name="NewAttentionIcon"/>
    <signal name="NewOverlayIcon"/>
    <signal name="NewToolTip"/>
    <signal name="NewStatus">
      <arg name="status" type="s"/>
    </signal>
  </interface>
</node>)xml";

// The sizes a drawn title is offered in: panels pick the one nearest their
// own and scale it.
constexpr std::array<int, 5> kPixmapSides{16, 22, 24, 32, 48};

// How long the watcher may take to say whether a tray host has registered;
// until it answers, the item shows nowhere.
constexpr int kWatcherQuestionMilliseconds = 5000;

// The modifier keys held now: a panel's request carries none.
std::uint64_t modifierFlagsNow() {
  GdkDisplay* display = gdk_display_get_default();
  if (!display) {
    return 0;
  }
  return modifierFlagsOfGdkState(
      gdk_keymap_get_modifier_state(gdk_keymap_get_for_display(display)));
}

// `title` drawn at `side` pixels, converted from GDK's RGBA bytes.
std::optional<X11StatusNotifierPresenter::Pixmap> drawPixmap(const std::string& title, int side) {
  auto drawn = drawStatusTitle(title, side);
  if (!drawn || gdk_pixbuf_get_bits_per_sample(drawn.get()) != 8) {
    return std::nullopt;
  }
  const int width = gdk_pixbuf_get_width(drawn.get());
  const int height = gdk_pixbuf_get_height(drawn.get());
  const int channels = gdk_pixbuf_get_n_channels(drawn.get());
  const bool alpha = gdk_pixbuf_get_has_alpha(drawn.get());
  const int stride = gdk_pixbuf_get_rowstride(drawn.get());
  const guchar* pixels = gdk_pixbuf_read_pixels(drawn.get());
  if (width != side || height != side || channels < 3) {
    return std::nullopt;
  }
  X11StatusNotifierPresenter::Pixmap pixmap;
  pixmap.side = side;
  pixmap.argb.reserve(static_cast<std::size_t>(side) * side * 4);
  for (int y = 0; y < side; ++y) {
    const guchar* row = pixels + static_cast<std::ptrdiff_t>(y) * stride;
    for (int x = 0; x < side; ++x) {
      const guchar* p = row + static_cast<std::ptrdiff_t>(x) * channels;
      pixmap.argb.push_back(alpha ? p[3] : 0xff);
      pixmap.argb.push_back(p[0]);
      pixmap.argb.push_back(p[1]);
      pixmap.argb.push_back(p[2]);
    }
  }
  return pixmap;
}

GVariant* pixmapArray(const std::vector<X11StatusNotifierPresenter::Pixmap>& pixmaps) {
  GVariantBuilder builder;
  g_variant_builder_init(&builder, G_VARIANT_TYPE("a(iiay)"));
  for (const auto& pixmap : pixmaps) {
    g_variant_builder_add(
        &builder, "(ii@ay)", pixmap.side, pixmap.side,
        g_variant_new_fixed_array(G_VARIANT_TYPE_BYTE, pixmap.argb.data(), pixmap.argb.size(), 1));
  }
  return g_variant_builder_end(&builder);
}

}  // namespace

// --- The item ------------------------------------------------------------------------

X11StatusNotifierPresenter::X11StatusNotifierPresenter(StatusIconEvents& events,
                                                       GDBusConnection* bus,
                                                       unsigned itemNumber)
    : events_(events),
      bus_(static_cast<GDBusConnection*>(g_object_ref(bus))),
      wantedName_("org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
                  std::to_string(itemNumber)),
      info_(g_dbus_node_info_new_for_xml(kItemIntrospection, nullptr)) {
  static constexpr GDBusInterfaceVTable kVTable{&X11StatusNotifierPresenter::onMethodCall,
                                                &X11StatusNotifierPresenter::onGetProperty,
                                                nullptr,
                                                {}};
  if (info_) {
    item_ = DBusHandle::registerObject(bus_.get(), kStatusNotifierItemPath, info_->interfaces[0],
                                       &kVTable, this);
  }
  menu_ = std::make_unique<X11DBusMenu>(bus_.get(), kStatusNotifierMenuPath,
                                        static_cast<X11DBusMenu::Delegate&>(*this));
}

X11StatusNotifierPresenter::~X11StatusNotifierPresenter() {
  closeMenu();
  watcherWatch_.reset();
  name_.reset();
  // The panel hears at once that the item has gone, even when the process
  // ends next.
  g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
}

bool X11StatusNotifierPresenter::exported() const {
  return item_ && menu_->exported();
}

void X11StatusNotifierPresenter::setIcon(const std::string& iconName,
                                         bool symbolic,
                                         const std::string& title,
                                         const std::string& tooltip) {
  // Strings on the bus must be well-formed UTF-8.
  std::string name = repairUtf8(iconName);
  if (symbolic && !name.empty() &&
      gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), (name + "-symbolic").c_str())) {
    name += "-symbolic";
  }
  std::vector<Pixmap> pixmaps;
  if (name.empty()) {
    for (const int side : kPixmapSides) {
      if (auto pixmap = drawPixmap(title, side)) {
        pixmaps.push_back(std::move(*pixmap));
      }
    }
  }
  std::string tip = repairUtf8(tooltip);
  const bool iconChanged = name != iconName_ || pixmaps != pixmaps_;
  const bool tipChanged = tip != tooltip_;
  iconName_ = std::move(name);
  pixmaps_ = std::move(pixmaps);
  tooltip_ = std::move(tip);
  if (!appeared_) {
    appear();
    return;
  }
  if (iconChanged) {
    emitSignal("NewIcon");
  }
  if (tipChanged) {
    emitSignal("NewToolTip");
  }
}

void X11StatusNotifierPresenter::appear() {
  appeared_ = true;
  if (!exported()) {
    return;
  }
  name_ = DBusHandle::ownedName(
      bus_.get(), g_bus_own_name_on_connection(
                      bus_.get(), wantedName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                      [](GDBusConnection*, const gchar* name, gpointer self) {
                        auto* presenter = static_cast<X11StatusNotifierPresenter*>(self);
                        presenter->ownedName_ = name;
                        presenter->registeredAs_ = name;
                        presenter->registerWithWatcher();
                      },
                      [](GDBusConnection* connection, const gchar*, gpointer self) {
                        // Somebody else has the name (or the bus has gone): the watcher
                        // is given the item's path instead and takes this connection's
                        // own name, which nobody else can have.
                        auto* presenter = static_cast<X11StatusNotifierPresenter*>(self);
                        presenter->ownedName_.clear();
                        if (!connection || g_dbus_connection_is_closed(connection) ||
                            presenter->registeredAs_ == kStatusNotifierItemPath) {
                          return;
                        }
                        presenter->registeredAs_ = kStatusNotifierItemPath;
                        presenter->registerWithWatcher();
                      },
                      this, nullptr));
  watcherWatch_ = DBusHandle::watchedName(
      bus_.get(), g_bus_watch_name_on_connection(
                      bus_.get(), kStatusNotifierWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                      [](GDBusConnection*, const gchar*, const gchar*, gpointer self) {
                        // A watcher that has just started knows of no item yet.
                        auto* presenter = static_cast<X11StatusNotifierPresenter*>(self);
                        presenter->watcherPresent_ = true;
                        presenter->registerWithWatcher();
                      },
                      [](GDBusConnection*, const gchar*, gpointer self) {
                        static_cast<X11StatusNotifierPresenter*>(self)->watcherPresent_ = false;
                      },
                      this, nullptr));
}

void X11StatusNotifierPresenter::registerWithWatcher() {
  if (!watcherPresent_ || registeredAs_.empty()) {
    return;
  }
  // Nothing is done with the answer: a watcher that refuses the item shows
  // nothing either way, and the next watcher is asked again.
  g_dbus_connection_call(
      bus_.get(), kStatusNotifierWatcherName, kStatusNotifierWatcherPath,
      kStatusNotifierWatcherInterface, "RegisterStatusNotifierItem",
      g_variant_new("(s)", registeredAs_.c_str()), nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
      [](GObject* source, GAsyncResult* result, gpointer) {
        GError* rawError = nullptr;
        GVariant* reply =
            g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &rawError);
        GErrorPtr error(rawError);
        if (reply) {
          g_variant_unref(reply);
        }
      },
      nullptr);
}

void X11StatusNotifierPresenter::emitSignal(const char* name, GVariant* arguments) {
  g_dbus_connection_emit_signal(bus_.get(), nullptr, kStatusNotifierItemPath, kItemInterface, name,
                                arguments, nullptr);
}

std::optional<std::size_t> X11StatusNotifierPresenter::popUpMenu(
    const std::vector<StatusMenuEntry>& entries) {
  menu_->setEntries(entries);
  switch (request_) {
    case MenuRequest::shownByPanel:
      return std::nullopt;
    case MenuRequest::chosenInPanel: {
      // Taken once: whatever else opens the menu later chooses nothing.
      const auto chosen = std::exchange(chosen_, std::nullopt);
      for (std::size_t i = 0; chosen && i < entries.size(); ++i) {
        if (entries[i] == *chosen) {
          return i;
        }
      }
      return std::nullopt;
    }
    case MenuRequest::showHere:
      break;
  }
  return popUp_.run(entries, nullptr, nullptr);
}

void X11StatusNotifierPresenter::closeMenu() {
  popUp_.close();
}

void X11StatusNotifierPresenter::menuEntriesWanted() {
  click(EventType::rightMouseUp, MenuRequest::shownByPanel);
}

void X11StatusNotifierPresenter::menuEntryClicked(const StatusMenuEntry& entry) {
  auto saved = std::exchange(chosen_, entry);
  click(EventType::rightMouseUp, MenuRequest::chosenInPanel);
  chosen_ = std::move(saved);
}

void X11StatusNotifierPresenter::click(EventType type, MenuRequest request) {
  // Restored after: a panel's request that comes while a menu of ours is
  // open must not change what that menu answers.
  const auto saved = std::exchange(request_, request);
  // A panel's request carries no time; the monotonic clock orders the
  // host's clicks all the same.
  events_.statusIconClicked(type, modifierFlagsNow(), g_get_monotonic_time() / 1e6);
  request_ = saved;
}

void X11StatusNotifierPresenter::onMethodCall(GDBusConnection*,
                                              const gchar*,
                                              const gchar*,
                                              const gchar*,
                                              const gchar* methodName,
                                              GVariant*,
                                              GDBusMethodInvocation* invocation,
                                              gpointer self) {
  auto* presenter = static_cast<X11StatusNotifierPresenter*>(self);
  const std::string method = methodName;
  // The panel is answered first: what the host does with a click may take
  // a while (capturing a selection, a menu the user has to answer).
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (method == "Activate" || method == "SecondaryActivate") {
    presenter->click(EventType::leftMouseUp);
  } else if (method == "ContextMenu") {
    presenter->click(EventType::rightMouseUp);
  }
}

GVariant* X11StatusNotifierPresenter::onGetProperty(GDBusConnection*,
                                                    const gchar*,
                                                    const gchar*,
                                                    const gchar*,
                                                    const gchar* propertyName,
                                                    GError** error,
                                                    gpointer self) {
  GVariant* value = static_cast<X11StatusNotifierPresenter*>(self)->property(propertyName);
  if (!value) {
    g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", propertyName);
  }
  return value;
}

GVariant* X11StatusNotifierPresenter::property(const std::string& name) const {
  if (name == "Category") {
    return g_variant_new_string("ApplicationStatus");
  }
  if (name == "Id") {
    return g_variant_new_string(kProgramName);
  }
  if (name == "Title") {
    return g_variant_new_string(kProgramClass);
  }
  if (name == "Status") {
    return g_variant_new_string("Active");
  }
  if (name == "WindowId") {
    return g_variant_new_int32(0);
  }
  if (name == "IconName") {
    return g_variant_new_string(iconName_.c_str());
  }
  if (name == "IconPixmap") {
    return pixmapArray(pixmaps_);
  }
  if (name == "OverlayIconPixmap" || name == "AttentionIconPixmap") {
    return pixmapArray({});
  }
  if (name == "IconThemePath" || name == "OverlayIconName" || name == "AttentionIconName" ||
      name == "AttentionMovieName") {
    return g_variant_new_string("");
  }
  if (name == "ToolTip") {
    return g_variant_new("(s@a(iiay)ss)", "", pixmapArray({}), tooltip_.c_str(), "");
  }
  if (name == "ItemIsMenu") {
    return g_variant_new_boolean(FALSE);
  }
  if (name == "Menu") {
    return g_variant_new_object_path(menu_->path().c_str());
  }
  return nullptr;
}

// --- Choosing between the item and the tray icon -------------------------------------

X11StatusIconChooser::X11StatusIconChooser(StatusIconEvents& events,
                                           GDBusConnection* bus,
                                           unsigned itemNumber)
    : events_(events),
      bus_(bus ? static_cast<GDBusConnection*>(g_object_ref(bus)) : nullptr),
      itemNumber_(itemNumber) {
  if (!bus_) {
    want(Kind::trayIcon);
    return;
  }
  auto onHostChange = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant*,
                         gpointer self) { static_cast<X11StatusIconChooser*>(self)->askWatcher(); };
  hostRegistered_ = DBusHandle::subscription(
      bus_.get(), g_dbus_connection_signal_subscribe(
                      bus_.get(), kStatusNotifierWatcherName, kStatusNotifierWatcherInterface,
                      "StatusNotifierHostRegistered", kStatusNotifierWatcherPath, nullptr,
                      G_DBUS_SIGNAL_FLAGS_NONE, onHostChange, this, nullptr));
  hostUnregistered_ = DBusHandle::subscription(
      bus_.get(), g_dbus_connection_signal_subscribe(
                      bus_.get(), kStatusNotifierWatcherName, kStatusNotifierWatcherInterface,
                      "StatusNotifierHostUnregistered", kStatusNotifierWatcherPath, nullptr,
                      G_DBUS_SIGNAL_FLAGS_NONE, onHostChange, this, nullptr));
  watcherWatch_ = DBusHandle::watchedName(
      bus_.get(), g_bus_watch_name_on_connection(
                      bus_.get(), kStatusNotifierWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
                      [](GDBusConnection*, const gchar*, const gchar* owner, gpointer self) {
                        static_cast<X11StatusIconChooser*>(self)->watcherAppeared(owner);
                      },
                      [](GDBusConnection*, const gchar*, gpointer self) {
                        static_cast<X11StatusIconChooser*>(self)->watcherVanished();
                      },
                      this, nullptr));
}

X11StatusIconChooser::~X11StatusIconChooser() {
  // No answer, signal or switch reaches this object from here on.
  hostUnregistered_.reset();
  hostRegistered_.reset();
  watcherWatch_.reset();
  question_.renew();
  switching_.reset();
}

void X11StatusIconChooser::setIcon(const std::string& iconName,
                                   bool symbolic,
                                   const std::string& title,
                                   const std::string& tooltip) {
  icon_ = Icon{iconName, symbolic, title, tooltip};
  if (current_) {
    current_->setIcon(iconName, symbolic, title, tooltip);
  }
}

std::optional<std::size_t> X11StatusIconChooser::popUpMenu(
    const std::vector<StatusMenuEntry>& entries) {
  if (!current_) {
    return std::nullopt;
  }
  ++busy_;
  auto chosen = current_->popUpMenu(entries);
  --busy_;
  switchWhenIdle();
  return chosen;
}

void X11StatusIconChooser::closeMenu() {
  if (current_) {
    current_->closeMenu();
  }
}

void X11StatusIconChooser::statusIconClicked(EventType type,
                                             std::uint64_t modifierFlags,
                                             double timestamp) {
  ++busy_;
  events_.statusIconClicked(type, modifierFlags, timestamp);
  --busy_;
  switchWhenIdle();
}

void X11StatusIconChooser::watcherAppeared(const std::string& owner) {
  watcherOwner_ = owner;
  askWatcher();
}

void X11StatusIconChooser::watcherVanished() {
  watcherOwner_.clear();
  question_.renew();
  want(Kind::trayIcon);
}

void X11StatusIconChooser::askWatcher() {
  if (watcherOwner_.empty()) {
    return;
  }
  // Only the latest question counts: an earlier answer may describe a host
  // that has gone since.
  question_.renew();
  g_dbus_connection_call(
      bus_.get(), watcherOwner_.c_str(), kStatusNotifierWatcherPath,
      "org.freedesktop.DBus.Properties", "Get",
      g_variant_new("(ss)", kStatusNotifierWatcherInterface, "IsStatusNotifierHostRegistered"),
      G_VARIANT_TYPE("(v)"), G_DBUS_CALL_FLAGS_NONE, kWatcherQuestionMilliseconds, question_.get(),
      [](GObject* source, GAsyncResult* result, gpointer self) {
        GError* rawError = nullptr;
        GVariantPtr reply(
            g_dbus_connection_call_finish(G_DBUS_CONNECTION(source), result, &rawError));
        GErrorPtr error(rawError);
        if (callWasCancelled(error.get())) {
          return;
        }
        bool hostRegistered = false;
        if (reply) {
          GVariant* rawValue = nullptr;
          g_variant_get(reply.get(), "(v)", &rawValue);
          GVariantPtr value(rawValue);
          hostRegistered = g_variant_is_of_type(value.get(), G_VARIANT_TYPE_BOOLEAN) &&
                           g_variant_get_boolean(value.get());
        }
        // A watcher that cannot say has no host that would show the item.
        static_cast<X11StatusIconChooser*>(self)->want(hostRegistered ? Kind::statusNotifier
                                                                      : Kind::trayIcon);
      },
      this);
}

void X11StatusIconChooser::want(Kind kind) {
  wanted_ = kind;
  switchWhenIdle();
}

void X11StatusIconChooser::switchWhenIdle() {
  if (wanted_ == currentKind_ || (switching_ && !g_source_is_destroyed(switching_.get()))) {
    return;
  }
  // Never from inside a presenter's own call, which returns into the
  // presenter after this: on a later turn of the loop, once nothing is under
  // way. A click or menu still under way then asks again when it is over.
  switching_ = addMainTimeout(0, [this] {
    if (busy_ == 0) {
      switchNow();
    }
    return false;
  });
}

void X11StatusIconChooser::switchNow() {
  if (wanted_ == currentKind_) {
    return;
  }
  current_.reset();
  currentKind_ = Kind::none;
  if (wanted_ == Kind::statusNotifier) {
    auto item = std::make_unique<X11StatusNotifierPresenter>(static_cast<StatusIconEvents&>(*this),
                                                             bus_.get(), itemNumber_);
    if (item->exported()) {
      current_ = std::move(item);
      currentKind_ = Kind::statusNotifier;
    }
  }
  if (!current_) {
    // Also when the item could not be put on the bus: a tray icon is
    // better than nothing.
    current_ = std::make_unique<X11TrayIconPresenter>(static_cast<StatusIconEvents&>(*this));
    currentKind_ = Kind::trayIcon;
  }
  if (icon_) {
    current_->setIcon(icon_->name, icon_->symbolic, icon_->title, icon_->tooltip);
  }
}

// --- The status bar's presenters -----------------------------------------------------

StatusIconPresenterFactory statusNotifierOrTrayIcons() {
  struct Session {
    bool connected = false;
    GObjectPtr<GDBusConnection> bus;
    unsigned items = 0;
  };
  auto session = std::make_shared<Session>();
  return [session](StatusIconEvents& events) -> std::unique_ptr<StatusIconPresenter> {
    if (!session->connected) {
      session->connected = true;
      if (sessionBusAvailable()) {
        session->bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
      }
    }
    return std::make_unique<X11StatusIconChooser>(events, session->bus.get(), ++session->items);
  };
}

}  // namespace lumivane::platform::x11
