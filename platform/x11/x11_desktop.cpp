#include "platform/x11/x11_desktop.h"

#include <gtk/gtk.h>
#include <xcb/xcb.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "platform/flutter/flutter_app_delegate.h"
#include "platform/x11/x11_accessibility.h"
#include "platform/x11/x11_application.h"
#include "platform/x11/x11_dispatch.h"
#include "platform/x11/x11_hot_keys.h"
#include "platform/x11/x11_keyboard_events.h"
#include "platform/x11/x11_login_items.h"
#include "platform/x11/x11_own_clipboard.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_status_bar.h"
#include "platform/x11/x11_status_notifier.h"
#include "platform/x11/x11_window.h"
#include "platform/x11/x11_workspace.h"

namespace lumivane::platform::x11 {
namespace {

// The process's standard output, flushed with every write: the host writes
// one line there when a login-item change fails, and whoever reads it should
// see it then, not when the host exits.
class X11StandardOutput final : public StandardOutput {
 public:
  void write(const std::string& text) override { std::cout << text << std::flush; }
};

std::string displayName() {
  const char* display = std::getenv("DISPLAY");
  return display ? display : "";
}

// Every service, in the order they depend on each other: GTK's display is
// open before any of them is made, the application and its window list come
// before the windows and the status bar, and the windows before the
// synthetic keys that give focus back to the panel.
class X11Desktop final : public Desktop {
 public:
  explicit X11Desktop(std::unique_ptr<X11Pasteboard> pasteboard)
      : clipboard_(*pasteboard),
        pasteboard_(std::move(pasteboard), [this] { return dispatch_.isMainThread(); }),
        keyboardEvents_(
            displayName(),
            [windows = application_.windows()] { return windows->visiblePanelWindow(); },
            [windows = application_.windows()] { return windows->panelSettling(); }),
        hotKeys_(gdk_display_get_default()),
        accessibility_(displayName(), gdk_display_get_default()),
        // Work on the global queues (a capture's worker) may still use the
        // clipboard and keys: it finishes first, while the host's delegate and
        // every service are there, and nothing starts there after.
        stopWorkers_(application_.addTerminationHook([this] { dispatch_.stopWorkers(); })),
        // The host lets go of the clipboard it owns before it exits, so the
        // user's contents outlive it.
        handOff_(application_.addTerminationHook([this] { clipboard_.handOffBeforeExit(); })) {}

  // A desktop that goes without terminating still outlives its workers.
  ~X11Desktop() override { dispatch_.stopWorkers(); }
  X11Desktop(const X11Desktop&) = delete;
  X11Desktop& operator=(const X11Desktop&) = delete;

  Application& application() override { return application_; }
  WindowFactory& windows() override { return windows_; }
  ViewFactory& views() override { return views_; }
  StatusBar& statusBar() override { return statusBar_; }
  Pasteboard& generalPasteboard() override { return pasteboard_; }
  Workspace& workspace() override { return workspace_; }
  Bundle& mainBundle() override { return bundle_; }
  KeyboardEvents& keyboardEvents() override { return keyboardEvents_; }
  HotKeys& hotKeys() override { return hotKeys_; }
  Accessibility& accessibility() override { return accessibility_; }
  LoginItems& loginItems() override { return loginItems_; }
  Dispatch& dispatch() override { return dispatch_; }
  StandardOutput& standardOutput() override { return standardOutput_; }
  FlutterEmbedding& flutter() override { return flutter_; }

 private:
  X11Dispatch dispatch_;
  X11Application application_;
  X11WindowFactory windows_{application_.windows()};
  X11ViewFactory views_;
  // A StatusNotifierItem while the session's panel takes those, an XEmbed
  // tray icon otherwise.
  X11StatusBar statusBar_{application_, statusNotifierOrTrayIcons()};
  X11Workspace workspace_;
  X11Bundle bundle_;
  X11Pasteboard& clipboard_;
  X11OwnClipboardAwarePasteboard pasteboard_;
  X11KeyboardEvents keyboardEvents_;
  X11HotKeys hotKeys_;
  X11Accessibility accessibility_;
  X11LoginItems loginItems_;
  X11StandardOutput standardOutput_;
  InProcessFlutterEmbedding flutter_{views_};
  X11Application::TerminationHook stopWorkers_;
  X11Application::TerminationHook handOff_;
};

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
  if (!initializeGtk(&reason)) {
    if (error)
      *error = reason;
    return nullptr;
  }
  X11Pasteboard::Options options;
  options.displayName = displayName();
  std::error_code ignored;
  const auto executable = std::filesystem::read_symlink("/proc/self/exe", ignored);
  if (auto keeper = findClipboardKeeper(executable))
    options.keeperPath = *keeper;
  auto pasteboard = X11Pasteboard::open(std::move(options), &reason);
  if (!pasteboard) {
    if (error)
      *error = reason;
    return nullptr;
  }
  return std::make_unique<X11Desktop>(std::move(pasteboard));
}

}  // namespace lumivane::platform::x11
