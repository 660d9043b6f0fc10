#pragma once

#include <glib-object.h>
#include <glib.h>

#include <functional>
#include <memory>
#include <utility>

namespace lumivane::platform::gtk {

// Ownership of GLib and GObject resources, so each is released on every path.

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};
// One strong reference to a GObject.
template <typename T>
using GObjectPtr = std::unique_ptr<T, GObjectUnref>;

// Takes a new reference to `object` (sinking a floating one).
template <typename T>
GObjectPtr<T> retainObject(T* object) {
  return GObjectPtr<T>(object ? static_cast<T*>(g_object_ref_sink(object)) : nullptr);
}

struct GSourceDestroy {
  void operator()(GSource* source) const {
    g_source_destroy(source);
    g_source_unref(source);
  }
};
// An attached GSource that is detached and released with its owner.
using GSourcePtr = std::unique_ptr<GSource, GSourceDestroy>;

struct GFree {
  void operator()(gpointer p) const { g_free(p); }
};
using GCharPtr = std::unique_ptr<gchar, GFree>;

struct GErrorFree {
  void operator()(GError* error) const { g_error_free(error); }
};
using GErrorPtr = std::unique_ptr<GError, GErrorFree>;

// Runs `callback` on the default main context after `milliseconds` (0: on the
// next turn of the loop), again each time it returns true. The callback is
// destroyed when it returns false or the returned source goes, whichever
// comes first; a callback that must not keep an object alive captures it
// weakly.
inline GSourcePtr addMainTimeout(guint milliseconds,
                                 std::function<bool()> callback,
                                 gint priority = G_PRIORITY_DEFAULT) {
  using Callback = std::function<bool()>;
  GSource* source = milliseconds == 0 ? g_idle_source_new() : g_timeout_source_new(milliseconds);
  g_source_set_priority(source, priority);
  g_source_set_callback(
      source,
      [](gpointer data) -> gboolean {
        return (*static_cast<Callback*>(data))() ? G_SOURCE_CONTINUE : G_SOURCE_REMOVE;
      },
      std::make_unique<Callback>(std::move(callback)).release(),
      [](gpointer data) { std::unique_ptr<Callback>(static_cast<Callback*>(data)); });
  g_source_attach(source, nullptr);
  return GSourcePtr(source);
}

}  // namespace lumivane::platform::gtk
