#include "platform/gtk/gtk_status_bar.h"

#include <cairo.h>
#include <pango/pangocairo.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <utility>

#include "platform/gtk/gtk_application.h"
#include "platform/utf8.h"

namespace lumivane::platform::gtk {
namespace {

// Themed icons that stand for a system symbol, best first.
std::vector<std::string> iconNamesFor(const std::string& symbol) {
  if (symbol == "textbox") {
    return {"lumivane", "accessories-text-editor", "text-editor"};
  }
  return {symbol};
}

struct CairoDestroy {
  void operator()(cairo_t* cr) const { cairo_destroy(cr); }
  void operator()(cairo_surface_t* surface) const { cairo_surface_destroy(surface); }
};
struct FontDescriptionFree {
  void operator()(PangoFontDescription* font) const { pango_font_description_free(font); }
};

// Where a menu's choice and its end are recorded while it is open.
struct MenuRun {
  GMainLoop* loop = nullptr;
  std::optional<std::size_t> chosen;
};

constexpr const char* kEntryIndexKey = "lumivane-entry-index";

}  // namespace

// --- Shared by the presenters -------------------------------------------------------

std::uint64_t modifierFlagsOfCurrentEvent() {
  GdkModifierType state{};
  if (!gtk_get_current_event_state(&state)) {
    return 0;
  }
  return modifierFlagsOfGdkState(state);
}

GObjectPtr<GdkPixbuf> drawStatusTitle(const std::string& title, int side) {
  if (side <= 0) {
    return nullptr;
  }
  std::unique_ptr<cairo_surface_t, CairoDestroy> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, side, side));
  std::unique_ptr<cairo_t, CairoDestroy> cr(cairo_create(surface.get()));
  GObjectPtr<PangoLayout> layout(pango_cairo_create_layout(cr.get()));
  std::unique_ptr<PangoFontDescription, FontDescriptionFree> font(
      pango_font_description_from_string("Sans Bold"));
  pango_font_description_set_absolute_size(font.get(), side * 0.7 * PANGO_SCALE);
  pango_layout_set_font_description(layout.get(), font.get());
  // Pango takes only well-formed UTF-8.
  pango_layout_set_text(layout.get(), repairUtf8(title).c_str(), -1);
  PangoRectangle ink{};
  pango_layout_get_pixel_extents(layout.get(), &ink, nullptr);
  // In the theme's text colour, as the label of a button would be.
  GObjectPtr<GtkWidget> label = retainObject(gtk_label_new(nullptr));
  GdkRGBA colour{};
  gtk_style_context_get_color(gtk_widget_get_style_context(label.get()), GTK_STATE_FLAG_NORMAL,
                              &colour);
  cairo_set_source_rgba(cr.get(), colour.red, colour.green, colour.blue, colour.alpha);
  cairo_move_to(cr.get(), (side - ink.width) / 2.0 - ink.x, (side - ink.height) / 2.0 - ink.y);
  pango_cairo_show_layout(cr.get(), layout.get());
  cairo_surface_flush(surface.get());
  return GObjectPtr<GdkPixbuf>(gdk_pixbuf_get_from_surface(surface.get(), 0, 0, side, side));
}

std::optional<std::size_t> StatusPopUpMenu::run(const std::vector<StatusMenuEntry>& entries,
                                                GtkMenuPositionFunc position,
                                                gpointer positionData) {
  if (menu_ || entries.empty()) {
    return std::nullopt;
  }
  MenuRun run;
  GObjectPtr<GtkWidget> menu = retainObject(gtk_menu_new());
  for (std::size_t i = 0; i < entries.size(); ++i) {
    GtkWidget* item = gtk_menu_item_new_with_label(repairUtf8(entries[i].title).c_str());
    const std::string& key = entries[i].keyEquivalent;
    if (!key.empty() && g_utf8_validate(key.c_str(), static_cast<gssize>(key.size()), nullptr)) {
      // An upper-case equivalent means Shift too, as on the Mac.
      const gunichar c = g_utf8_get_char(key.c_str());
      const bool shifted = g_unichar_isupper(c);
      const guint keyval = gdk_unicode_to_keyval(shifted ? g_unichar_tolower(c) : c);
      auto modifiers =
          static_cast<GdkModifierType>(GDK_CONTROL_MASK | (shifted ? GDK_SHIFT_MASK : 0));
      gtk_accel_label_set_accel(GTK_ACCEL_LABEL(gtk_bin_get_child(GTK_BIN(item))), keyval,
                                modifiers);
    }
    g_object_set_data(G_OBJECT(item), kEntryIndexKey, GSIZE_TO_POINTER(i));
    g_signal_connect(item, "activate", G_CALLBACK(+[](GtkMenuItem* item, gpointer data) {
                       static_cast<MenuRun*>(data)->chosen =
                           GPOINTER_TO_SIZE(g_object_get_data(G_OBJECT(item), kEntryIndexKey));
                     }),
                     &run);
    gtk_menu_shell_append(GTK_MENU_SHELL(menu.get()), item);
  }
  gtk_widget_show_all(menu.get());
  // The menu closes before its item activates, in the same turn of the loop;
  // the loop ends after that turn, with the choice made.
  g_signal_connect(menu.get(), "deactivate", G_CALLBACK(+[](GtkMenuShell*, gpointer data) {
                     if (auto* loop = static_cast<MenuRun*>(data)->loop) {
                       g_main_loop_quit(loop);
                     }
                   }),
                   &run);

  guint button = 0;
  if (GdkEvent* current = gtk_get_current_event()) {
    gdk_event_get_button(current, &button);
    gdk_event_free(current);
  }
  // gtk_menu_popup is deprecated, but the tray icon's placement needs it.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  gtk_menu_popup(GTK_MENU(menu.get()), nullptr, nullptr, position, positionData, button,
                 gtk_get_current_event_time());
#pragma GCC diagnostic pop

  if (gtk_widget_get_visible(menu.get())) {
    std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                  &g_main_loop_unref);
    run.loop = loop.get();
    menu_ = retainObject(menu.get());
    loop_ = loop.get();
    g_main_loop_run(loop.get());
    loop_ = nullptr;
    menu_.reset();
    run.loop = nullptr;
  }
  // No handler may reach `run` once this returns.
  g_signal_handlers_disconnect_by_data(menu.get(), &run);
  gtk_container_foreach(
      GTK_CONTAINER(menu.get()),
      [](GtkWidget* item, gpointer data) { g_signal_handlers_disconnect_by_data(item, data); },
      &run);
  gtk_widget_destroy(menu.get());
  return run.chosen;
}

void StatusPopUpMenu::close() {
  if (menu_) {
    gtk_menu_shell_deactivate(GTK_MENU_SHELL(menu_.get()));
  }
  if (loop_) {
    g_main_loop_quit(loop_);
  }
}

// --- Menus --------------------------------------------------------------------------

void StatusMenu::addItem(const std::shared_ptr<MenuItem>& item) {
  if (auto ours = std::dynamic_pointer_cast<StatusMenuItem>(item)) {
    items_.push_back(std::move(ours));
  }
}

// --- The button and its item --------------------------------------------------------

void GtkStatusBarButton::setImage(const std::shared_ptr<Image>& image) {
  image_ = std::dynamic_pointer_cast<StatusImage>(image);
  if (auto item = item_.lock()) {
    item->updateIcon();
  }
}

void GtkStatusBarButton::setTitle(const std::string& title) {
  title_ = title;
  if (auto item = item_.lock()) {
    item->updateIcon();
  }
}

void GtkStatusBarButton::performClick() {
  if (auto item = item_.lock()) {
    item->click();
  }
}

GtkStatusItem::GtkStatusItem(GtkHostApplication& application,
                             const StatusIconPresenterFactory& presenter)
    : application_(application), presenter_(presenter(*this)) {}

void GtkStatusItem::attachButton() {
  button_ = std::make_shared<GtkStatusBarButton>(weak_from_this());
}

void GtkStatusItem::updateIcon() {
  const auto& image = button_->image_;
  if (image) {
    presenter_->setIcon(image->iconName(), image->isTemplate(), button_->title_,
                        image->description());
  } else if (!button_->title_.empty()) {
    presenter_->setIcon({}, false, button_->title_, {});
  }
}

void GtkStatusItem::click() {
  if (menu_) {
    openMenu();
    return;
  }
  application_.sendAction(button_->action_, button_->target_.lock());
}

void GtkStatusItem::statusIconClicked(EventType type,
                                      std::uint64_t modifierFlags,
                                      double timestamp) {
  auto keep = shared_from_this();
  GtkHostApplication::HandlingEvent handling(application_,
                                             Event{type, modifierFlags, CGPoint{}, timestamp});
  if (menu_) {
    openMenu();
    return;
  }
  const std::uint64_t bit = 1ull << static_cast<std::uint32_t>(type);
  if (button_->mask_ & bit) {
    application_.sendAction(button_->action_, button_->target_.lock());
  }
}

void GtkStatusItem::openMenu() {
  auto menu = std::dynamic_pointer_cast<StatusMenu>(menu_);
  if (!menu || menuOpen_) {
    return;
  }
  // Alive until the menu has closed and its choice has been sent, whatever
  // the host lets go of meanwhile.
  auto keep = shared_from_this();
  const auto items = menu->items();
  std::vector<StatusMenuEntry> entries;
  for (const auto& item : items) {
    entries.push_back(StatusMenuEntry{item->title(), item->keyEquivalent()});
  }
  std::optional<std::size_t> chosen;
  {
    menuOpen_ = true;
    // Quitting while the menu is open closes it first.
    auto closeOnQuit = application_.addTerminationHook([this] { presenter_->closeMenu(); });
    chosen = presenter_->popUpMenu(entries);
    menuOpen_ = false;
  }
  // Menu items have no target: the action travels the responder chain.
  if (chosen && *chosen < items.size()) {
    application_.sendAction(items[*chosen]->action(), nullptr);
  }
}

// --- The status bar -------------------------------------------------------------------

GtkStatusBar::GtkStatusBar(GtkHostApplication& application, StatusIconPresenterFactory presenter)
    : application_(application), presenter_(std::move(presenter)) {}

std::shared_ptr<StatusItem> GtkStatusBar::statusItemWithLength(double /*length*/) {
  auto item = std::make_shared<GtkStatusItem>(application_, presenter_);
  item->attachButton();
  return item;
}

std::shared_ptr<Image> GtkStatusBar::imageWithSystemSymbolName(const std::string& name,
                                                               const std::string& description) {
  GtkIconTheme* theme = gtk_icon_theme_get_default();
  for (const auto& candidate : iconNamesFor(name)) {
    if (!candidate.empty() && gtk_icon_theme_has_icon(theme, candidate.c_str())) {
      return std::make_shared<StatusImage>(candidate, description);
    }
  }
  return nullptr;
}

std::shared_ptr<Menu> GtkStatusBar::makeMenu() {
  return std::make_shared<StatusMenu>();
}

std::shared_ptr<MenuItem> GtkStatusBar::makeMenuItem(const std::string& title,
                                                     const std::string& action,
                                                     const std::string& keyEquivalent) {
  return std::make_shared<StatusMenuItem>(title, action, keyEquivalent);
}

}  // namespace lumivane::platform::gtk
