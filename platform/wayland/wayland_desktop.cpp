#include "platform/wayland/wayland_desktop.h"

#include <gio/gio.h>
#include <glib-unix.h>
#include <gtk/gtk.h>

#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <optional>

#include "platform/gtk/application_profiles.h"
#include "platform/gtk/clipboard_keeper.h"
#include "platform/gtk/gtk_desktop.h"
#include "platform/gtk/status_icon_chooser.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_accessibility.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_hot_keys.h"
#include "platform/wayland/wayland_keyboard_events.h"
#include "platform/wayland/wayland_own_clipboard.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/wayland/wayland_window_system.h"
#include "platform/wayland/wayland_workspace.h"

namespace lumivane::platform::wayland {
namespace {

// The rule that floats the host's panel above the user's windows, sticky on
// every workspace; the compositor centres a new floating window. The action
// list is quoted: a bare comma would end the rule after its first action.
constexpr const char* kPanelRule =
    "for_window [app_id=\"^lumivane$\"] 'floating enable, sticky enable'";

std::string displayName() {
  const char* display = std::getenv("WAYLAND_DISPLAY");
  return display ? display : "";
}

// What stops the desktop on a compositor that answers: the protocols the
// host reaches other applications with.
std::string missingProtocols(const WaylandGlobals& globals) {
  if (!globals.dataControl) {
    return "the compositor offers no data-control: only XWayland windows can be reached; use "
           "--desktop x11";
  }
  if (!globals.virtualKeyboards) {
    return "the compositor offers no virtual keyboard: only XWayland windows can be reached; use "
           "--desktop x11";
  }
  return {};
}

// sway's announcements that it has reloaded its configuration, read on the
// main loop.
class SwayReloadWatch {
 public:
  SwayReloadWatch(const std::string& socket, std::function<void()> reloaded)
      : events_(SwayIpcEvents::subscribe(socket, {"workspace"})), reloaded_(std::move(reloaded)) {
    if (!events_)
      return;
    source_ = g_unix_fd_add(
        events_->fd(), G_IO_IN,
        [](gint, GIOCondition, gpointer data) -> gboolean {
          auto* self = static_cast<SwayReloadWatch*>(data);
          const auto event = self->events_->read();
          if (!event) {
            self->source_ = 0;
            return G_SOURCE_REMOVE;
          }
          if (announcesReload(*event))
            self->reloaded_();
          return G_SOURCE_CONTINUE;
        },
        this);
  }
  ~SwayReloadWatch() {
    if (source_ != 0)
      g_source_remove(source_);
  }
  SwayReloadWatch(const SwayReloadWatch&) = delete;
  SwayReloadWatch& operator=(const SwayReloadWatch&) = delete;

 private:
  std::unique_ptr<SwayIpcEvents> events_;
  std::function<void()> reloaded_;
  guint source_ = 0;
};

gtk::GtkDesktopParts waylandParts(std::shared_ptr<WaylandWindowSystem> windowSystem) {
  gtk::GtkDesktopParts parts;
  parts.windowSystem = std::move(windowSystem);
  // Wayland has no XEmbed tray: a StatusNotifierItem where the session's
  // panel takes those, nothing otherwise.
  parts.statusIcons = gtk::statusNotifierItemsOr(nullptr);
  parts.bundleIdentifier = kHostBundleIdentifier;
  return parts;
}

// How applications copy and paste; what is wrong with the user's file is
// told on standard error, a line each.
gtk::ApplicationProfiles loadProfiles() {
  std::vector<std::string> problems;
  auto profiles = gtk::ApplicationProfiles::forUser(&problems);
  for (const auto& problem : problems)
    std::cerr << "lumivane: " << problem << "\n";
  return profiles;
}

std::string executable() {
  std::error_code ignored;
  return std::filesystem::read_symlink("/proc/self/exe", ignored).string();
}

WaylandPasteboard::Options primaryOptions() {
  WaylandPasteboard::Options options;
  options.selection = WaylandPasteboard::Selection::primary;
  return options;
}

GDBusConnection* sessionBus() {
  return gtk::sessionBusAvailable() ? g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)
                                    : nullptr;
}

// The shared services plus the Wayland ones, in the order they depend on
// each other: the connection first and gone last, the window list before
// the workspace and the keys that share it.
class WaylandDesktop final : public gtk::GtkDesktop {
 public:
  WaylandDesktop(std::shared_ptr<WaylandConnection> connection,
                 std::unique_ptr<WaylandPasteboard> clipboard)
      : WaylandDesktop(std::move(connection),
                       std::move(clipboard),
                       std::make_shared<WaylandWindowSystem>()) {}
  // A desktop that goes without terminating still outlives its workers.
  ~WaylandDesktop() override { dispatch().stopWorkers(); }

  Pasteboard& generalPasteboard() override { return *pasteboard_; }
  Workspace& workspace() override { return workspace_; }
  KeyboardEvents& keyboardEvents() override { return keyboardEvents_; }
  HotKeys& hotKeys() override { return hotKeys_; }
  Accessibility& accessibility() override { return accessibility_; }

 private:
  WaylandDesktop(std::shared_ptr<WaylandConnection> connection,
                 std::unique_ptr<WaylandPasteboard> clipboard,
                 const std::shared_ptr<WaylandWindowSystem>& windowSystem)
      : gtk::GtkDesktop(waylandParts(windowSystem)),
        connection_(std::move(connection)),
        ipc_(SwayIpc::fromEnvironment()),
        toplevels_(WaylandToplevels::start(*connection_)),
        clipboard_(*clipboard),
        primary_(WaylandPasteboard::open(connection_, primaryOptions(), nullptr)),
        pasteboard_(
            withOwnClipboard(std::move(clipboard), [this] { return dispatch().isMainThread(); })),
        workspace_(WaylandWorkspace::Options{.toplevels = toplevels_, .ipc = ipc_}),
        keyboardEvents_(
            *connection_,
            WaylandKeyboardEvents::Options{
                .toplevels = toplevels_,
                .ipc = ipc_,
                .panelVisible = [windows =
                                     windowList()] { return windows->visiblePanelWindow() != 0; },
                .panelSettling = [windows = windowList()] { return windows->panelSettling(); },
                .profiles = loadProfiles(),
                .clipboard = &clipboard_,
                .primary = primary_.get()}),
        bus_(sessionBus()),
        hotKeys_(
            WaylandHotKeys::Options{.ipc = ipc_, .executable = executable(), .bus = bus_.get()}),
        accessibility_(
            connection_
                ->call<bool>([this] { return connection_->globals().dataControl != nullptr; })
                .value_or(false),
            keyboardEvents_.ready()),
        // The clipboard the host holds when it exits goes to a keeper, for
        // a Wayland selection ends with its client.
        handOff_(whenTerminating([this] { clipboard_.handOffBeforeExit(); })) {
    // sway does not hand the keyboard to a window already on the screen that
    // GTK presents again: the compositor's window list activates it.
    windowSystem->activateHostWindow = [weak =
                                            std::weak_ptr(toplevels_)](const std::string& title) {
      const auto toplevels = weak.lock();
      for (const Toplevel& toplevel : toplevels ? toplevels->list() : std::vector<Toplevel>{}) {
        if (toplevel.appId == kHostBundleIdentifier && toplevel.title == title) {
          toplevels->activate(toplevel.id);
          return;
        }
      }
    };
    if (ipc_) {
      floatPanel();
      reloads_ = std::make_unique<SwayReloadWatch>(ipc_->path(), [this] {
        floatPanel();
        hotKeys_.swayReloaded();
      });
    }
  }
  void floatPanel() { ipc_->runCommand(kPanelRule); }

  const std::shared_ptr<WaylandConnection> connection_;
  const std::shared_ptr<SwayIpc> ipc_;
  const std::shared_ptr<WaylandToplevels> toplevels_;
  WaylandPasteboard& clipboard_;
  // For profiles that copy from it; null where the compositor has none.
  const std::unique_ptr<WaylandPasteboard> primary_;
  const std::unique_ptr<Pasteboard> pasteboard_;
  WaylandWorkspace workspace_;
  WaylandKeyboardEvents keyboardEvents_;
  gtk::GObjectPtr<GDBusConnection> bus_;
  WaylandHotKeys hotKeys_;
  WaylandAccessibility accessibility_;
  std::unique_ptr<SwayReloadWatch> reloads_;
  gtk::GtkHostApplication::TerminationHook handOff_;
};

}  // namespace

std::string unavailableReason() {
  const std::string display = displayName();
  if (display.empty())
    return "no Wayland display (WAYLAND_DISPLAY is not set)";
  std::string reason;
  auto connection = WaylandConnection::open(display, &reason);
  if (!connection)
    return reason;
  reason = connection->call<std::string>([&] { return missingProtocols(connection->globals()); })
               .value_or("the Wayland compositor went away");
  return reason;
}

std::unique_ptr<Desktop> openWaylandDesktop(std::string* error) {
  std::string reason;
  auto fail = [&] {
    if (error)
      *error = reason;
    return nullptr;
  };
  if (!gtk::initializeGtk("wayland", &reason))
    return fail();
  std::shared_ptr<WaylandConnection> connection = WaylandConnection::open(displayName(), &reason);
  if (!connection)
    return fail();
  reason = connection->call<std::string>([&] { return missingProtocols(connection->globals()); })
               .value_or("the Wayland compositor went away");
  if (!reason.empty())
    return fail();
  WaylandPasteboard::Options options;
  options.displayName = displayName();
  if (auto keeper = gtk::findClipboardKeeper(executable()))
    options.keeperPath = *keeper;
  auto clipboard = WaylandPasteboard::open(connection, std::move(options), &reason);
  if (!clipboard)
    return fail();
  return std::make_unique<WaylandDesktop>(std::move(connection), std::move(clipboard));
}

}  // namespace lumivane::platform::wayland
