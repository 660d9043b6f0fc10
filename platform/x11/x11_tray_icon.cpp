#include "platform/x11/x11_tray_icon.h"

#include "platform/gtk/gtk_application.h"
#include "platform/utf8.h"

namespace lumivane::platform::x11 {

using gtk::drawStatusTitle;
using gtk::kDefaultStatusIconSide;
using gtk::modifierFlagsOfCurrentEvent;

// GtkStatusIcon is deprecated in GTK 3 but is the toolkit's XEmbed tray icon.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

X11TrayIconPresenter::X11TrayIconPresenter(StatusIconEvents& events) : events_(events) {}

X11TrayIconPresenter::~X11TrayIconPresenter() {
  closeMenu();
  if (icon_) {
    g_signal_handlers_disconnect_by_data(icon_.get(), this);
    gtk_status_icon_set_visible(icon_.get(), FALSE);
  }
}

bool X11TrayIconPresenter::isEmbedded() const {
  return icon_ && gtk_status_icon_is_embedded(icon_.get());
}

std::uint32_t X11TrayIconPresenter::xid() const {
  return icon_ ? gtk_status_icon_get_x11_window_id(icon_.get()) : 0;
}

void X11TrayIconPresenter::setIcon(const std::string& iconName,
                                   bool symbolic,
                                   const std::string& title,
                                   const std::string& tooltip) {
  // GTK and Pango take only well-formed UTF-8.
  title_ = repairUtf8(title);
  drawsTitle_ = iconName.empty();
  std::string name = iconName;
  if (symbolic && !drawsTitle_ &&
      gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), (name + "-symbolic").c_str())) {
    name += "-symbolic";
  }
  if (!icon_) {
    // Made with its image, and never renamed: a tray icon hidden and shown
    // again, or given a name once it exists, comes up with GTK's update
    // bookkeeping out of step. Its window class is the program's anyway.
    gtk::GObjectPtr<GdkPixbuf> drawn;
    if (drawsTitle_) {
      drawn = drawStatusTitle(title_, kDefaultStatusIconSide);
    }
    icon_ = gtk::GObjectPtr<GtkStatusIcon>(drawsTitle_
                                               ? gtk_status_icon_new_from_pixbuf(drawn.get())
                                               : gtk_status_icon_new_from_icon_name(name.c_str()));
    GtkStatusIcon* icon = icon_.get();
    gtk_status_icon_set_title(icon, gtk::kProgramClass);
    g_signal_connect(icon, "activate", G_CALLBACK(&X11TrayIconPresenter::onActivate), this);
    g_signal_connect(icon, "popup-menu", G_CALLBACK(&X11TrayIconPresenter::onPopupMenu), this);
    g_signal_connect(icon, "size-changed", G_CALLBACK(&X11TrayIconPresenter::onSizeChanged), this);
  } else if (drawsTitle_) {
    redrawTitle();
  } else {
    gtk_status_icon_set_from_icon_name(icon_.get(), name.c_str());
  }
  const std::string tip = repairUtf8(tooltip);
  gtk_status_icon_set_tooltip_text(icon_.get(), tip.empty() ? nullptr : tip.c_str());
}

void X11TrayIconPresenter::redrawTitle() {
  const int side = gtk_status_icon_get_size(icon_.get());
  if (auto drawn = drawStatusTitle(title_, side > 0 ? side : kDefaultStatusIconSide)) {
    gtk_status_icon_set_from_pixbuf(icon_.get(), drawn.get());
  }
}

std::optional<std::size_t> X11TrayIconPresenter::popUpMenu(
    const std::vector<StatusMenuEntry>& entries) {
  return menu_.run(entries, icon_ ? gtk_status_icon_position_menu : nullptr, icon_.get());
}

void X11TrayIconPresenter::closeMenu() {
  menu_.close();
}

void X11TrayIconPresenter::onActivate(GtkStatusIcon*, gpointer self) {
  auto* presenter = static_cast<X11TrayIconPresenter*>(self);
  presenter->events_.statusIconClicked(EventType::leftMouseUp, modifierFlagsOfCurrentEvent(),
                                       gtk_get_current_event_time() / 1000.0);
}

void X11TrayIconPresenter::onPopupMenu(GtkStatusIcon*, guint, guint time, gpointer self) {
  auto* presenter = static_cast<X11TrayIconPresenter*>(self);
  presenter->events_.statusIconClicked(EventType::rightMouseUp, modifierFlagsOfCurrentEvent(),
                                       time / 1000.0);
}

gboolean X11TrayIconPresenter::onSizeChanged(GtkStatusIcon*, gint, gpointer self) {
  auto* presenter = static_cast<X11TrayIconPresenter*>(self);
  if (!presenter->drawsTitle_) {
    return FALSE;  // GTK scales a themed icon itself.
  }
  presenter->redrawTitle();
  return TRUE;
}

#pragma GCC diagnostic pop

gtk::StatusIconPresenterFactory trayIcons() {
  return [](StatusIconEvents& events) -> std::unique_ptr<StatusIconPresenter> {
    return std::make_unique<X11TrayIconPresenter>(events);
  };
}

}  // namespace lumivane::platform::x11
