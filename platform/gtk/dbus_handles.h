#pragma once

#include <gio/gio.h>

#include <memory>
#include <string>
#include <utility>

#include "platform/gtk/glib_handles.h"

namespace lumivane::platform::gtk {

// An object exported on the bus: what it does with calls of its interface's
// methods and which values its properties have. GDBus has checked a call's
// arguments against the interface's description.
class DBusObject {
 public:
  virtual ~DBusObject() = default;
  // Answers `invocation`, now or later.
  virtual void handleMethodCall(const std::string& method,
                                GVariant* parameters,
                                GDBusMethodInvocation* invocation) = 0;
  // The property's value, floating; null for a property it does not have.
  virtual GVariant* property(const std::string& name) const = 0;
};

// Ownership of what GDBus hands out as numbers: an exported object, a bus
// name owned or watched, a signal subscription. Each is given back when its
// holder goes, on every path; GDBus calls none of its callbacks after that.
class DBusHandle {
 public:
  using Release = void (*)(GDBusConnection* connection, guint id);

  DBusHandle() = default;
  // Takes `id` (0 for none) and a reference to `connection`.
  DBusHandle(GDBusConnection* connection, guint id, Release release)
      : connection_(id != 0 && connection ? static_cast<GDBusConnection*>(g_object_ref(connection))
                                          : nullptr),
        id_(id),
        release_(release) {}
  DBusHandle(DBusHandle&& other) noexcept
      : connection_(std::move(other.connection_)),
        id_(std::exchange(other.id_, 0)),
        release_(other.release_) {}
  DBusHandle& operator=(DBusHandle&& other) noexcept {
    if (this != &other) {
      reset();
      connection_ = std::move(other.connection_);
      id_ = std::exchange(other.id_, 0);
      release_ = other.release_;
    }
    return *this;
  }
  ~DBusHandle() { reset(); }

  explicit operator bool() const { return id_ != 0; }

  void reset() {
    if (id_ != 0 && release_) {
      release_(connection_.get(), std::exchange(id_, 0));
    }
    id_ = 0;
    connection_.reset();
  }

  // `object` at `path`, serving `interface`; it must outlive the handle.
  // Empty when the path already serves that interface on the connection.
  static DBusHandle registerObject(GDBusConnection* connection,
                                   const char* path,
                                   GDBusInterfaceInfo* interface,
                                   DBusObject& object) {
    static constexpr GDBusInterfaceVTable kVTable{
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* method,
           GVariant* parameters, GDBusMethodInvocation* invocation, gpointer object) {
          static_cast<DBusObject*>(object)->handleMethodCall(method, parameters, invocation);
        },
        [](GDBusConnection*, const gchar*, const gchar*, const gchar*, const gchar* name,
           GError** error, gpointer object) -> GVariant* {
          GVariant* value = static_cast<DBusObject*>(object)->property(name);
          if (!value) {
            g_set_error(error, G_DBUS_ERROR, G_DBUS_ERROR_UNKNOWN_PROPERTY, "No property %s", name);
          }
          return value;
        },
        nullptr,
        {}};
    const guint id = g_dbus_connection_register_object(connection, path, interface, &kVTable,
                                                       &object, nullptr, nullptr);
    return DBusHandle(connection, id, [](GDBusConnection* c, guint i) {
      g_dbus_connection_unregister_object(c, i);
    });
  }
  // g_bus_own_name_on_connection's id.
  static DBusHandle ownedName(GDBusConnection* connection, guint id) {
    return DBusHandle(connection, id, [](GDBusConnection*, guint i) { g_bus_unown_name(i); });
  }
  // g_bus_watch_name_on_connection's id.
  static DBusHandle watchedName(GDBusConnection* connection, guint id) {
    return DBusHandle(connection, id, [](GDBusConnection*, guint i) { g_bus_unwatch_name(i); });
  }
  // g_dbus_connection_signal_subscribe's id.
  static DBusHandle subscription(GDBusConnection* connection, guint id) {
    return DBusHandle(connection, id, [](GDBusConnection* c, guint i) {
      g_dbus_connection_signal_unsubscribe(c, i);
    });
  }

 private:
  GObjectPtr<GDBusConnection> connection_;
  guint id_ = 0;
  Release release_ = nullptr;
};

struct GVariantUnref {
  void operator()(GVariant* value) const { g_variant_unref(value); }
};
// One strong reference to a GVariant (a floating one sunk).
using GVariantPtr = std::unique_ptr<GVariant, GVariantUnref>;

struct GDBusNodeInfoUnref {
  void operator()(GDBusNodeInfo* info) const { g_dbus_node_info_unref(info); }
};
using GDBusNodeInfoPtr = std::unique_ptr<GDBusNodeInfo, GDBusNodeInfoUnref>;

// A cancellable that is cancelled when it goes: an asynchronous call started
// with it reports G_IO_ERROR_CANCELLED to its callback from then on, so a
// callback that sees any other outcome may use the object that started it.
class ScopedCancellable {
 public:
  ScopedCancellable() : cancellable_(g_cancellable_new()) {}
  ~ScopedCancellable() { g_cancellable_cancel(cancellable_.get()); }
  ScopedCancellable(const ScopedCancellable&) = delete;
  ScopedCancellable& operator=(const ScopedCancellable&) = delete;

  GCancellable* get() const { return cancellable_.get(); }
  // Cancels what was started so far; what starts from now on is not.
  void renew() {
    g_cancellable_cancel(cancellable_.get());
    cancellable_.reset(g_cancellable_new());
  }

 private:
  GObjectPtr<GCancellable> cancellable_;
};

// Whether an asynchronous call's callback may reach the object that started
// it: false when the call was cancelled, which happens when that object goes.
inline bool callWasCancelled(const GError* error) {
  return error && g_error_matches(error, G_IO_ERROR, G_IO_ERROR_CANCELLED);
}

}  // namespace lumivane::platform::gtk
