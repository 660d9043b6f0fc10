#pragma once

#include <gio/gio.h>

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/dbus_handles.h"
#include "platform/gtk/gtk_status_bar.h"

namespace lumivane::platform::gtk {

// A status item's presenter that follows the session: a StatusNotifierItem
// while a watcher with a registered tray host is on the session bus, the
// fallback presenter (an XEmbed tray icon on X11) otherwise, switching when a watcher comes or goes
// or its host registers or leaves. The icon is shown again by the new presenter; the host sees
// nothing of it. A switch waits until no click or menu of the old presenter is under way. Until the
// bus has answered, nothing shows and a menu cannot open. Main thread only.
class StatusIconChooser final : public StatusIconPresenter, private StatusIconEvents {
 public:
  // `bus` is the session bus, or null for none (the fallback only);
  // `itemNumber` as for StatusNotifierPresenter.
  StatusIconChooser(StatusIconEvents& events,
                    GDBusConnection* bus,
                    unsigned itemNumber,
                    StatusIconPresenterFactory fallback);
  ~StatusIconChooser() override;
  StatusIconChooser(const StatusIconChooser&) = delete;
  StatusIconChooser& operator=(const StatusIconChooser&) = delete;

  void setIcon(const std::string& iconName,
               bool symbolic,
               const std::string& title,
               const std::string& tooltip) override;
  std::optional<std::size_t> popUpMenu(const std::vector<StatusMenuEntry>& entries) override;
  void closeMenu() override;

 private:
  enum class Kind { none, fallback, statusNotifier };

  void statusIconClicked(EventType type, std::uint64_t modifierFlags, double timestamp) override;

  void watcherAppeared(const std::string& owner);
  void watcherVanished();
  // Asks the watcher whether a tray host has registered with it.
  void askWatcher();
  void want(Kind kind);
  // Switches to the wanted presenter, now when nothing of the current one is
  // under way, else once it is over.
  void switchWhenIdle();
  void switchNow();

  struct Icon {
    std::string name;
    bool symbolic = false;
    std::string title;
    std::string tooltip;
  };

  StatusIconEvents& events_;
  GObjectPtr<GDBusConnection> bus_;
  unsigned itemNumber_;
  StatusIconPresenterFactory fallback_;
  std::unique_ptr<StatusIconPresenter> current_;
  Kind currentKind_ = Kind::none;
  Kind wanted_ = Kind::none;
  std::optional<Icon> icon_;
  // Clicks and menus of the current presenter under way.
  int busy_ = 0;
  std::string watcherOwner_;
  GSourcePtr switching_;
  ScopedCancellable question_;
  DBusHandle watcherWatch_;
  DBusHandle hostRegistered_;
  DBusHandle hostUnregistered_;
};

// Presenters for the status bar: choosers over the session bus between a
// StatusNotifierItem and `fallback`. The bus connection is made with the first
// item (none when no session bus can be reached without starting one).
StatusIconPresenterFactory statusNotifierItemsOr(StatusIconPresenterFactory fallback);

}  // namespace lumivane::platform::gtk
