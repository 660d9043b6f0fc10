#include "platform/gtk/status_icon_chooser.h"

#include <utility>

#include "platform/gtk/gtk_application.h"
#include "platform/gtk/status_notifier_item.h"

namespace lumivane::platform::gtk {
namespace {

// How long the watcher may take to say whether a tray host has registered;
// until it answers, the item shows nowhere.
constexpr int kWatcherQuestionMilliseconds = 5000;

}  // namespace

StatusIconChooser::StatusIconChooser(StatusIconEvents& events,
                                     GDBusConnection* bus,
                                     unsigned itemNumber,
                                     StatusIconPresenterFactory fallback)
    : events_(events),
      bus_(bus ? static_cast<GDBusConnection*>(g_object_ref(bus)) : nullptr),
      itemNumber_(itemNumber),
      fallback_(std::move(fallback)) {
  if (!bus_) {
    want(Kind::fallback);
    return;
  }
  auto onHostChange = [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar*,
                         GVariant*,
                         gpointer self) { static_cast<StatusIconChooser*>(self)->askWatcher(); };
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
                        static_cast<StatusIconChooser*>(self)->watcherAppeared(owner);
                      },
                      [](GDBusConnection*, const gchar*, gpointer self) {
                        static_cast<StatusIconChooser*>(self)->watcherVanished();
                      },
                      this, nullptr));
}

StatusIconChooser::~StatusIconChooser() {
  // No answer, signal or switch reaches this object from here on.
  hostUnregistered_.reset();
  hostRegistered_.reset();
  watcherWatch_.reset();
  question_.renew();
  switching_.reset();
}

void StatusIconChooser::setIcon(const std::string& iconName,
                                bool symbolic,
                                const std::string& title,
                                const std::string& tooltip) {
  icon_ = Icon{iconName, symbolic, title, tooltip};
  if (current_) {
    current_->setIcon(iconName, symbolic, title, tooltip);
  }
}

std::optional<std::size_t> StatusIconChooser::popUpMenu(
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

void StatusIconChooser::closeMenu() {
  if (current_) {
    current_->closeMenu();
  }
}

void StatusIconChooser::statusIconClicked(EventType type,
                                          std::uint64_t modifierFlags,
                                          double timestamp) {
  ++busy_;
  events_.statusIconClicked(type, modifierFlags, timestamp);
  --busy_;
  switchWhenIdle();
}

void StatusIconChooser::watcherAppeared(const std::string& owner) {
  watcherOwner_ = owner;
  askWatcher();
}

void StatusIconChooser::watcherVanished() {
  watcherOwner_.clear();
  question_.renew();
  want(Kind::fallback);
}

void StatusIconChooser::askWatcher() {
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
        static_cast<StatusIconChooser*>(self)->want(hostRegistered ? Kind::statusNotifier
                                                                   : Kind::fallback);
      },
      this);
}

void StatusIconChooser::want(Kind kind) {
  wanted_ = kind;
  switchWhenIdle();
}

void StatusIconChooser::switchWhenIdle() {
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

void StatusIconChooser::switchNow() {
  if (wanted_ == currentKind_) {
    return;
  }
  current_.reset();
  currentKind_ = Kind::none;
  if (wanted_ == Kind::statusNotifier) {
    auto item = std::make_unique<StatusNotifierPresenter>(static_cast<StatusIconEvents&>(*this),
                                                          bus_.get(), itemNumber_);
    if (item->exported()) {
      current_ = std::move(item);
      currentKind_ = Kind::statusNotifier;
    }
  }
  if (!current_ && fallback_) {
    // Also when the item could not be put on the bus: the fallback is
    // better than nothing.
    current_ = fallback_(static_cast<StatusIconEvents&>(*this));
    currentKind_ = Kind::fallback;
  }
  // Without a watcher and without a fallback (Wayland has no tray of its
  // own) there is no icon to show until a watcher comes.
  if (icon_ && current_) {
    current_->setIcon(icon_->name, icon_->symbolic, icon_->title, icon_->tooltip);
  }
}

StatusIconPresenterFactory statusNotifierItemsOr(StatusIconPresenterFactory fallback) {
  struct Session {
    bool connected = false;
    GObjectPtr<GDBusConnection> bus;
    unsigned items = 0;
  };
  auto session = std::make_shared<Session>();
  return [session, fallback](StatusIconEvents& events) -> std::unique_ptr<StatusIconPresenter> {
    if (!session->connected) {
      session->connected = true;
      if (sessionBusAvailable()) {
        session->bus.reset(g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr));
      }
    }
    return std::make_unique<StatusIconChooser>(events, session->bus.get(), ++session->items,
                                               fallback);
  };
}

}  // namespace lumivane::platform::gtk
