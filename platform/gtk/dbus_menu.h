#pragma once

#include <gio/gio.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/dbus_handles.h"
#include "platform/gtk/gtk_status_bar.h"

namespace lumivane::platform::gtk {

// The host's status menu exported as a com.canonical.dbusmenu tree, for trays
// that show an item's menu themselves: a root (id 0) whose children are the
// entries, ids 1 to n in order, each with its label, and its key equivalent
// as a Control shortcut. The tray reads the layout, asks before showing it
// (AboutToShow) and reports the entry chosen (Event "clicked"); what the host
// makes of that is the delegate's. Main thread only.
class DBusMenu final : private DBusObject {
 public:
  class Delegate {
   public:
    virtual ~Delegate() = default;
    // The tray is about to show the menu, or wants its layout while no entry
    // has been published yet: the entries should be published now
    // (setEntries), before the answer goes back.
    virtual void menuEntriesWanted() = 0;
    // The user chose `entry`, as published, from the tray's menu. The tray
    // has had its answer already.
    virtual void menuEntryClicked(const StatusMenuEntry& entry) = 0;
  };

  // Exports the menu at `path` on `connection`, with no entries yet.
  DBusMenu(GDBusConnection* connection, std::string path, Delegate& delegate);
  DBusMenu(const DBusMenu&) = delete;
  DBusMenu& operator=(const DBusMenu&) = delete;

  // False when the path already served a menu on this connection: trays
  // then find another's menu there, not this one.
  bool exported() const { return static_cast<bool>(registration_); }
  const std::string& path() const { return path_; }

  // Publishes `entries` as the menu; trays are told (LayoutUpdated) when the
  // layout differs from the one they have.
  void setEntries(const std::vector<StatusMenuEntry>& entries);

 private:
  void handleMethodCall(const std::string& method,
                        GVariant* parameters,
                        GDBusMethodInvocation* invocation) override;
  GVariant* property(const std::string& name) const override;

  bool knows(std::int32_t id) const;
  // How many entries the tray is shown, asking the delegate for them once
  // when none is known.
  std::size_t entriesForTray();
  // The delegate is asked for the entries; true when the layout changed.
  bool refresh();
  // `id`'s properties, only those named in `names` when it is not empty.
  GVariant* properties(std::int32_t id, const std::vector<std::string>& names) const;
  GVariant* layout(std::int32_t id,
                   std::int32_t depth,
                   const std::vector<std::string>& names) const;

  GObjectPtr<GDBusConnection> connection_;
  std::string path_;
  Delegate& delegate_;
  GDBusNodeInfoPtr info_;
  DBusHandle registration_;
  std::optional<std::vector<StatusMenuEntry>> entries_;
  std::uint32_t revision_ = 1;
  bool askedForEntries_ = false;
  bool refreshing_ = false;
};

}  // namespace lumivane::platform::gtk
