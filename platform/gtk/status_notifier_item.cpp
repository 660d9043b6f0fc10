#include "platform/gtk/status_notifier_item.h"

#include <unistd.h>

#include <array>
#include <filesystem>
#include <utility>

#include "platform/gtk/gtk_application.h"
#include "platform/utf8.h"

namespace lumivane::platform::gtk {
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
std::optional<StatusNotifierPresenter::Pixmap> drawPixmap(const std::string& title, int side) {
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
  StatusNotifierPresenter::Pixmap pixmap;
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

GVariant* pixmapArray(const std::vector<StatusNotifierPresenter::Pixmap>& pixmaps) {
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

StatusNotifierPresenter::StatusNotifierPresenter(StatusIconEvents& events,
                                                 GDBusConnection* bus,
                                                 unsigned itemNumber)
    : events_(events),
      bus_(static_cast<GDBusConnection*>(g_object_ref(bus))),
      wantedName_("org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
                  std::to_string(itemNumber)),
      info_(g_dbus_node_info_new_for_xml(kItemIntrospection, nullptr)) {
  if (info_) {
    item_ = DBusHandle::registerObject(bus_.get(), kStatusNotifierItemPath, info_->interfaces[0],
                                       static_cast<DBusObject&>(*this));
  }
  menu_ = std::make_unique<DBusMenu>(bus_.get(), kStatusNotifierMenuPath,
                                     static_cast<DBusMenu::Delegate&>(*this));
}

StatusNotifierPresenter::~StatusNotifierPresenter() {
  closeMenu();
  watcherWatch_.reset();
  name_.reset();
  // The panel hears at once that the item has gone, even when the process
  // ends next.
  g_dbus_connection_flush_sync(bus_.get(), nullptr, nullptr);
}

bool StatusNotifierPresenter::exported() const {
  return item_ && menu_->exported();
}

void StatusNotifierPresenter::setIcon(const std::string& iconName,
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

void StatusNotifierPresenter::appear() {
  appeared_ = true;
  if (!exported()) {
    return;
  }
  name_ = DBusHandle::ownedName(
      bus_.get(), g_bus_own_name_on_connection(
                      bus_.get(), wantedName_.c_str(), G_BUS_NAME_OWNER_FLAGS_DO_NOT_QUEUE,
                      [](GDBusConnection*, const gchar* name, gpointer self) {
                        auto* presenter = static_cast<StatusNotifierPresenter*>(self);
                        presenter->ownedName_ = name;
                        presenter->registeredAs_ = name;
                        presenter->registerWithWatcher();
                      },
                      [](GDBusConnection* connection, const gchar*, gpointer self) {
                        // Somebody else has the name (or the bus has gone): the watcher
                        // is given the item's path instead and takes this connection's
                        // own name, which nobody else can have.
                        auto* presenter = static_cast<StatusNotifierPresenter*>(self);
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
                        auto* presenter = static_cast<StatusNotifierPresenter*>(self);
                        presenter->watcherPresent_ = true;
                        presenter->registerWithWatcher();
                      },
                      [](GDBusConnection*, const gchar*, gpointer self) {
                        static_cast<StatusNotifierPresenter*>(self)->watcherPresent_ = false;
                      },
                      this, nullptr));
}

void StatusNotifierPresenter::registerWithWatcher() {
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

void StatusNotifierPresenter::emitSignal(const char* name, GVariant* arguments) {
  g_dbus_connection_emit_signal(bus_.get(), nullptr, kStatusNotifierItemPath, kItemInterface, name,
                                arguments, nullptr);
}

std::optional<std::size_t> StatusNotifierPresenter::popUpMenu(
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

void StatusNotifierPresenter::closeMenu() {
  popUp_.close();
}

void StatusNotifierPresenter::menuEntriesWanted() {
  click(EventType::rightMouseUp, MenuRequest::shownByPanel);
}

void StatusNotifierPresenter::menuEntryClicked(const StatusMenuEntry& entry) {
  auto saved = std::exchange(chosen_, entry);
  click(EventType::rightMouseUp, MenuRequest::chosenInPanel);
  chosen_ = std::move(saved);
}

void StatusNotifierPresenter::click(EventType type, MenuRequest request) {
  // Restored after: a panel's request that comes while a menu of ours is
  // open must not change what that menu answers.
  const auto saved = std::exchange(request_, request);
  // A panel's request carries no time; the monotonic clock orders the
  // host's clicks all the same.
  events_.statusIconClicked(type, modifierFlagsNow(), g_get_monotonic_time() / 1e6);
  request_ = saved;
}

void StatusNotifierPresenter::handleMethodCall(const std::string& method,
                                               GVariant*,
                                               GDBusMethodInvocation* invocation) {
  // The panel is answered first: what the host does with a click may take
  // a while (capturing a selection, a menu the user has to answer).
  g_dbus_method_invocation_return_value(invocation, nullptr);
  if (method == "Activate" || method == "SecondaryActivate") {
    click(EventType::leftMouseUp);
  } else if (method == "ContextMenu") {
    click(EventType::rightMouseUp);
  }
}

GVariant* StatusNotifierPresenter::property(const std::string& name) const {
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

}  // namespace lumivane::platform::gtk
