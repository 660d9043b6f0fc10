#pragma once

#include <gio/gio.h>
#include <gtk/gtk.h>

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/dbus_handles.h"
#include "platform/gtk/dbus_menu.h"
#include "platform/gtk/gtk_status_bar.h"

namespace lumivane::platform::gtk {

// Where a tray host's watcher is found on the session bus.
inline constexpr const char* kStatusNotifierWatcherName = "org.kde.StatusNotifierWatcher";
inline constexpr const char* kStatusNotifierWatcherPath = "/StatusNotifierWatcher";
inline constexpr const char* kStatusNotifierWatcherInterface = "org.kde.StatusNotifierWatcher";
// Where an item serves org.kde.StatusNotifierItem, and its menu.
inline constexpr const char* kStatusNotifierItemPath = "/StatusNotifierItem";
inline constexpr const char* kStatusNotifierMenuPath = "/MenuBar";

// A status item as a StatusNotifierItem on the session bus, for desktops whose
// panels show those instead of XEmbed icons.
//
// On the bus: the item at /StatusNotifierItem and its menu (dbusmenu) at
// /MenuBar, under the name org.kde.StatusNotifierItem-<pid>-<item number>, or
// under the connection's own name when that one cannot be had. The item
// registers with the watcher (org.kde.StatusNotifierWatcher) once it has its
// name, and again whenever a watcher appears, so a panel that restarts shows
// it again. It appears with the first setIcon.
//
// What it shows: Id "lumivane", Title "Lumivane", Category ApplicationStatus,
// Status Active; IconName the themed icon (its symbolic variant when asked
// and the theme has one), or, without one, IconPixmap: the title drawn at
// several sizes; ToolTip the tooltip. NewIcon and NewToolTip tell the panel
// of changes.
//
// How the panel's requests reach the host, which sees the same clicks and
// menu calls as with a tray icon:
// - Activate (a left click) and SecondaryActivate (a middle click) are the
//   left click; Scroll does nothing.
// - ContextMenu (panels that leave the menu to the item) is the right click:
//   the host builds its menu and calls popUpMenu, which shows it as a GtkMenu
//   at the pointer until the user answers.
// - Panels that show the menu themselves read the dbusmenu layout, call
//   AboutToShow on its root, then Event "clicked" on the entry chosen.
//   AboutToShow is the right click: the host's popUpMenu publishes its
//   entries as the layout and returns at once, nothing chosen, while the
//   panel shows them. A "clicked" is a right click whose popUpMenu returns
//   that entry at once (when the host's menu still has it), so the entry's
//   action goes down the responder chain as a choice from a menu that has
//   closed.
// - A panel that reads the layout before any right click finds the host's
//   entries there: the host is asked for them (as a right click) the first
//   time they are wanted, and the last ones it gave are kept.
// Main thread only.
class StatusNotifierPresenter final : public StatusIconPresenter,
                                      private DBusMenu::Delegate,
                                      private DBusObject {
 public:
  // On `bus`, the session bus; `itemNumber` tells this item's name from the
  // names of the process's other items.
  StatusNotifierPresenter(StatusIconEvents& events, GDBusConnection* bus, unsigned itemNumber);
  ~StatusNotifierPresenter() override;
  StatusNotifierPresenter(const StatusNotifierPresenter&) = delete;
  StatusNotifierPresenter& operator=(const StatusNotifierPresenter&) = delete;

  void setIcon(const std::string& iconName,
               bool symbolic,
               const std::string& title,
               const std::string& tooltip) override;
  std::optional<std::size_t> popUpMenu(const std::vector<StatusMenuEntry>& entries) override;
  void closeMenu() override;

  // False when the item or its menu could not be put on the bus (another
  // item of this process serves those paths): panels would never show it.
  bool exported() const;

  // One image of a drawn title: `side` pixels square, ARGB32 in network byte
  // order, not premultiplied.
  struct Pixmap {
    int side = 0;
    std::vector<std::uint8_t> argb;
    bool operator==(const Pixmap&) const = default;
  };

 private:
  // What the host's popUpMenu call is answering.
  enum class MenuRequest {
    // A ContextMenu, or a call the item did not cause: the menu opens here.
    showHere,
    // The panel shows the published entries itself.
    shownByPanel,
    // The panel's user chose `chosen_`.
    chosenInPanel,
  };

  void menuEntriesWanted() override;
  void menuEntryClicked(const StatusMenuEntry& entry) override;

  // Tells the host of a click of `type`, as `request` for a menu it opens.
  void click(EventType type, MenuRequest request = MenuRequest::showHere);
  void appear();
  void registerWithWatcher();
  void emitSignal(const char* name, GVariant* arguments = nullptr);
  void handleMethodCall(const std::string& method,
                        GVariant* parameters,
                        GDBusMethodInvocation* invocation) override;
  GVariant* property(const std::string& name) const override;

  StatusIconEvents& events_;
  GObjectPtr<GDBusConnection> bus_;
  std::string wantedName_;
  GDBusNodeInfoPtr info_;
  // Declared in the order they are made; they go in the reverse order, the
  // watcher's watch and the name before the objects they announce.
  DBusHandle item_;
  std::unique_ptr<DBusMenu> menu_;
  DBusHandle name_;
  DBusHandle watcherWatch_;
  // The name the watcher is given: the owned name, or the item's path (the
  // watcher then takes this connection's name).
  std::string ownedName_;
  std::string registeredAs_;
  bool watcherPresent_ = false;
  bool appeared_ = false;

  std::string iconName_;
  std::vector<Pixmap> pixmaps_;
  std::string tooltip_;

  MenuRequest request_ = MenuRequest::showHere;
  std::optional<StatusMenuEntry> chosen_;
  StatusPopUpMenu popUp_;
};

}  // namespace lumivane::platform::gtk
