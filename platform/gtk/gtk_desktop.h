#pragma once

#include <memory>
#include <optional>
#include <string>

#include "platform/desktop.h"
#include "platform/flutter/flutter_app_delegate.h"
#include "platform/gtk/glib_dispatch.h"
#include "platform/gtk/gtk_application.h"
#include "platform/gtk/gtk_status_bar.h"
#include "platform/gtk/gtk_view.h"
#include "platform/gtk/gtk_window.h"
#include "platform/gtk/xdg_autostart.h"

namespace lumivane::platform::gtk {

// The host's own bundle: its identifier is what the desktop backend knows the
// host's windows by (an X11 window class, a Wayland app id).
class HostBundle final : public Bundle {
 public:
  explicit HostBundle(std::optional<std::string> identifier) : identifier_(std::move(identifier)) {}
  std::optional<std::string> bundleIdentifier() const override { return identifier_; }

 private:
  const std::optional<std::string> identifier_;
};

// The process's standard output, flushed with every write: the host writes one
// line there when a login-item change fails, and whoever reads it should see
// it then, not when the host exits.
class StandardOutputStream final : public StandardOutput {
 public:
  void write(const std::string& text) override;
};

// What a Linux desktop backend gives the shared services.
struct GtkDesktopParts {
  // What the host's windows ask the display system.
  std::shared_ptr<WindowSystem> windowSystem;
  // How status items are shown.
  StatusIconPresenterFactory statusIcons;
  // The host's bundle identifier on this display system.
  std::optional<std::string> bundleIdentifier;
};

// The services every Linux desktop shares, on GTK's main loop: dispatch, the
// application and its windows and views, the status bar, the host's bundle,
// launch at login, standard output and the embedding. A backend derives from
// it and adds what speaks its display protocol: the pasteboard, the
// workspace, synthetic keys, hot keys and the Accessibility answer. Made on
// the main thread after GTK has opened its display.
class GtkDesktop : public Desktop {
 public:
  explicit GtkDesktop(GtkDesktopParts parts);
  // A backend's destructor stops the workers (dispatch().stopWorkers())
  // before its own services go: blocks still running there may use them.
  ~GtkDesktop() override;
  GtkDesktop(const GtkDesktop&) = delete;
  GtkDesktop& operator=(const GtkDesktop&) = delete;

  GtkHostApplication& application() override { return application_; }
  WindowFactory& windows() override { return windows_; }
  ViewFactory& views() override { return views_; }
  StatusBar& statusBar() override { return statusBar_; }
  Bundle& mainBundle() override { return bundle_; }
  LoginItems& loginItems() override { return loginItems_; }
  GLibDispatch& dispatch() override { return dispatch_; }
  StandardOutput& standardOutput() override { return standardOutput_; }
  FlutterEmbedding& flutter() override { return flutter_; }

  // The host's windows, for the backend's services that follow the panel.
  const std::shared_ptr<GtkWindowList>& windowList() const { return application_.windows(); }

 protected:
  // Work the backend must do when the host ends, after the workers have
  // stopped (see GtkHostApplication::addTerminationHook).
  [[nodiscard]] GtkHostApplication::TerminationHook whenTerminating(std::function<void()> hook) {
    return application_.addTerminationHook(std::move(hook));
  }

 private:
  GLibDispatch dispatch_;
  GtkHostApplication application_;
  GtkWindowFactory windows_{application_.windows()};
  GtkViewFactory views_;
  GtkStatusBar statusBar_;
  HostBundle bundle_;
  XdgAutostartLoginItems loginItems_;
  StandardOutputStream standardOutput_;
  InProcessFlutterEmbedding flutter_{views_};
  // Work on the global queues (a capture's worker) may still use the
  // backend's clipboard and keys: it finishes first, while the host's
  // delegate and every service are there, and nothing starts there after.
  GtkHostApplication::TerminationHook stopWorkers_;
};

}  // namespace lumivane::platform::gtk
