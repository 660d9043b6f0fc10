#include "platform/x11/x11_desktop.h"

#include <gtk/gtk.h>
#include <xcb/xcb.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>

#include "platform/gtk/clipboard_keeper.h"
#include "platform/gtk/gtk_desktop.h"
#include "platform/gtk/own_clipboard.h"
#include "platform/gtk/status_icon_chooser.h"
#include "platform/x11/x11_accessibility.h"
#include "platform/x11/x11_application_edits.h"
#include "platform/x11/x11_hot_keys.h"
#include "platform/x11/x11_keyboard_events.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_tray_icon.h"
#include "platform/x11/x11_window_system.h"
#include "platform/x11/x11_workspace.h"

namespace lumivane::platform::x11 {
namespace {

std::string displayName() {
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

gtk::GtkDesktopParts x11Parts() {
  gtk::GtkDesktopParts parts;
  parts.windowSystem = std::make_shared<X11WindowSystem>();
  // A StatusNotifierItem while the session's panel takes those, an XEmbed
  // tray icon otherwise.
  parts.statusIcons = gtk::statusNotifierItemsOr(trayIcons());
  parts.bundleIdentifier = kHostBundleIdentifier;
  return parts;
}

// The shared services plus the X11 ones, in the order they depend on each
// other: GTK's display is open before any of them is made, and the windows
// come before the synthetic keys that give focus back to the panel.
class X11Desktop final : public gtk::GtkDesktop {
 public:
  X11Desktop(std::unique_ptr<X11Pasteboard> pasteboard, gtk::ApplicationProfiles profiles)
      : gtk::GtkDesktop(x11Parts()),
        clipboard_(*pasteboard),
        pasteboard_(std::move(pasteboard),
                    {.isMainThread = [this] { return dispatch().isMainThread(); },
                     .typeString = typeString}),
        keyboardEvents_(
            displayName(),
            [windows = windowList()] { return windows->visiblePanelWindow(); },
            [windows = windowList()] { return windows->panelSettling(); },
            activationOrder_,
            std::make_unique<X11ApplicationEdits>(std::move(profiles), clipboard_, displayName())),
        hotKeys_(gdk_display_get_default()),
        accessibility_(gdk_display_get_default()),
        // The host lets go of the clipboard it owns before it exits, so the
        // user's contents outlive it.
        handOff_(whenTerminating([this] { clipboard_.handOffBeforeExit(); })) {}
  // A desktop that goes without terminating still outlives its workers.
  ~X11Desktop() override { dispatch().stopWorkers(); }

  Pasteboard& generalPasteboard() override { return pasteboard_; }
  Workspace& workspace() override { return workspace_; }
  KeyboardEvents& keyboardEvents() override { return keyboardEvents_; }
  HotKeys& hotKeys() override { return hotKeys_; }
  Accessibility& accessibility() override { return accessibility_; }

 private:
  // Which windows the user made active, noted by the workspace for the
  // synthetic keys to turn to the same window of an application as a paste.
  const std::shared_ptr<ActivationOrder> activationOrder_ = std::make_shared<ActivationOrder>();
  X11Workspace workspace_{X11Workspace::Options{.activationOrder = activationOrder_}};
  X11Pasteboard& clipboard_;
  gtk::OwnClipboardAwarePasteboard pasteboard_;
  X11KeyboardEvents keyboardEvents_;
  X11HotKeys hotKeys_;
  X11Accessibility accessibility_;
  gtk::GtkHostApplication::TerminationHook handOff_;
};

// How applications copy and paste: the built-in table and the user's file.
// What is wrong with the file is told on standard error, a line each, and
// left out.
gtk::ApplicationProfiles loadApplicationProfiles() {
  std::vector<std::string> problems;
  auto profiles = gtk::ApplicationProfiles::forUser(&problems);
  const char* home = std::getenv("HOME");
  const std::string homePrefix = home && *home ? std::string(home) + "/" : std::string();
  for (std::string& problem : problems) {
    if (!homePrefix.empty() && problem.starts_with(homePrefix))
      problem.replace(0, homePrefix.size(), "~/");
    std::fprintf(stderr, "lumivane: %s\n", problem.c_str());
  }
  return profiles;
}

}  // namespace

std::string unavailableReason() {
  const std::string display = displayName();
  if (display.empty()) {
    const char* wayland = std::getenv("WAYLAND_DISPLAY");
    if (wayland && *wayland) {
      return "this Wayland session offers no X display (DISPLAY is empty); Lumivane needs "
             "XWayland";
    }
    return "no X display is set (DISPLAY is empty)";
  }
  xcb_connection_t* connection = xcb_connect(display.c_str(), nullptr);
  const bool answered = connection && !xcb_connection_has_error(connection);
  if (connection)
    xcb_disconnect(connection);
  if (!answered)
    return "cannot connect to the X display " + display;
  return {};
}

std::unique_ptr<Desktop> openX11Desktop(std::string* error) {
  std::string reason;
  if (!gtk::initializeGtk("x11", &reason)) {
    if (error)
      *error = reason;
    return nullptr;
  }
  X11Pasteboard::Options options;
  options.displayName = displayName();
  std::error_code ignored;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ignored);
  if (auto keeper = gtk::findClipboardKeeper(executable))
    options.keeperPath = *keeper;
  auto pasteboard = X11Pasteboard::open(std::move(options), &reason);
  if (!pasteboard) {
    if (error)
      *error = reason;
    return nullptr;
  }
  return std::make_unique<X11Desktop>(std::move(pasteboard), loadApplicationProfiles());
}

}  // namespace lumivane::platform::x11
