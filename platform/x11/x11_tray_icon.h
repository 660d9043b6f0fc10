#pragma once

#include <gtk/gtk.h>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/gtk/glib_handles.h"
#include "platform/gtk/gtk_status_bar.h"

namespace lumivane::platform::x11 {

using gtk::GObjectPtr;
using gtk::StatusIconEvents;
using gtk::StatusIconPresenter;
using gtk::StatusMenuEntry;
using gtk::StatusPopUpMenu;
// A GtkStatusIcon in the XEmbed tray: "activate" (a left click) is the
// primary action, "popup-menu" (a right click) the context one.
class X11TrayIconPresenter final : public StatusIconPresenter {
 public:
  explicit X11TrayIconPresenter(StatusIconEvents& events);
  ~X11TrayIconPresenter() override;
  X11TrayIconPresenter(const X11TrayIconPresenter&) = delete;
  X11TrayIconPresenter& operator=(const X11TrayIconPresenter&) = delete;

  void setIcon(const std::string& iconName,
               bool symbolic,
               const std::string& title,
               const std::string& tooltip) override;
  std::optional<std::size_t> popUpMenu(const std::vector<StatusMenuEntry>& entries) override;
  void closeMenu() override;

  // Whether a tray shows the icon, and the X window it shows it in (0 when
  // none). The icon exists from the first setIcon.
  bool isEmbedded() const;
  std::uint32_t xid() const;
  GtkStatusIcon* statusIcon() const { return icon_.get(); }
  // The menu while one is open.
  GtkMenu* openMenu() const { return menu_.openMenu(); }

 private:
  void redrawTitle();
  static void onActivate(GtkStatusIcon*, gpointer self);
  static void onPopupMenu(GtkStatusIcon*, guint button, guint time, gpointer self);
  static gboolean onSizeChanged(GtkStatusIcon*, gint size, gpointer self);

  StatusIconEvents& events_;
  gtk::GObjectPtr<GtkStatusIcon> icon_;  // From the first setIcon.
  std::string title_;
  bool drawsTitle_ = false;
  StatusPopUpMenu menu_;
};

// Status items as tray icons only.
gtk::StatusIconPresenterFactory trayIcons();

}  // namespace lumivane::platform::x11
