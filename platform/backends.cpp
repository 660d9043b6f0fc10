#include "platform/backends.h"

#include <cstdlib>

#include "platform/sim/sim_desktop.h"

#if LUMIVANE_HAVE_GTK
#include "platform/gtk/gtk_application.h"
#endif
#if LUMIVANE_HAVE_X11
#include "platform/x11/x11_desktop.h"
#endif
#if LUMIVANE_HAVE_WAYLAND
#include "platform/wayland/wayland_desktop.h"
#endif

namespace lumivane::platform {
namespace {

std::string alwaysAvailable() {
  return {};
}

std::unique_ptr<Desktop> openSimulated(std::string* /*error*/) {
  return std::make_unique<sim::SimDesktop>();
}

[[maybe_unused]] bool variableSet(const char* name) {
  const char* value = std::getenv(name);
  return value && *value;
}

}  // namespace

std::vector<Backend> builtInBackends() {
  return {
    // A Wayland session may run X applications too, through XWayland: the
    // Wayland desktop reaches both where the compositor lets it, the X11 one
    // only the X applications.
#if LUMIVANE_HAVE_WAYLAND
    Backend{"wayland",
            "the Wayland desktop of this session, on wlroots compositors such as sway (GTK 3, "
            "data-control, a virtual keyboard, the compositor's window list)",
            /*real=*/true,
            &wayland::unavailableReason,
            &wayland::openWaylandDesktop,
            [] { return variableSet("WAYLAND_DISPLAY"); }},
#endif
#if LUMIVANE_HAVE_X11
        Backend{"x11",
                "the X11 desktop of this session (GTK 3, XTest, the CLIPBOARD selection)",
                /*real=*/true,
                &x11::unavailableReason,
                &x11::openX11Desktop,
                [] { return variableSet("DISPLAY"); }},
#endif
        Backend{"sim",
                "the simulated desktop: every platform service in memory on a virtual clock; "
                "nothing touches this machine's desktop or clipboard",
                /*real=*/false, &alwaysAvailable, &openSimulated},
  };
}

const Backend* findBackend(std::span<const Backend> backends, std::string_view name) {
  for (const auto& backend : backends) {
    if (name == backend.name)
      return &backend;
  }
  return nullptr;
}

std::string backendNames(std::span<const Backend> backends) {
  std::string names;
  for (const auto& backend : backends) {
    if (!names.empty())
      names += ", ";
    names += backend.name;
  }
  return names;
}

bool pressHotKeyOfRunningHost(std::string* error) {
#if LUMIVANE_HAVE_GTK
  // The hosts of every Linux desktop are one application on the session bus.
  return gtk::pressRunningHostHotKey(gtk::GtkApplicationOptions{}.applicationId, error);
#else
  if (error)
    *error = "this build runs no desktop a host could be running on";
  return false;
#endif
}

}  // namespace lumivane::platform
