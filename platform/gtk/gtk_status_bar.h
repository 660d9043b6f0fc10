#pragma once

#include <gtk/gtk.h>

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/gtk/glib_handles.h"
#include "platform/status_bar.h"

namespace lumivane::platform::gtk {

class GtkHostApplication;

// One line of a menu as the desktop shows it.
struct StatusMenuEntry {
  std::string title;
  // The Command-key equivalent ("q"); shown with the Control key, the
  // desktop's key for such shortcuts. Empty for none.
  std::string keyEquivalent;

  bool operator==(const StatusMenuEntry&) const = default;
};

// What a presenter reports to its status item. Main thread.
class StatusIconEvents {
 public:
  virtual ~StatusIconEvents() = default;
  // The user clicked the icon: leftMouseUp for its primary action,
  // rightMouseUp for its context menu, with the modifier keys held and the
  // event's time in seconds.
  virtual void statusIconClicked(EventType type, std::uint64_t modifierFlags, double timestamp) = 0;
};

// What puts a status item on the desktop: an icon in the XEmbed tray, or a
// StatusNotifierItem. Status items hold one each and tell it what to show;
// nothing of the host changes with the presenter. Main thread only.
class StatusIconPresenter {
 public:
  virtual ~StatusIconPresenter() = default;
  // What the icon shows: the themed icon `iconName` (its symbolic variant when
  // `symbolic` and the theme has one), or, when the name is empty, `title`
  // drawn as the icon. `tooltip` names the item; empty for none. The icon
  // appears with the first call.
  virtual void setIcon(const std::string& iconName,
                       bool symbolic,
                       const std::string& title,
                       const std::string& tooltip) = 0;
  // Shows `entries` as a menu at the icon and returns once it has closed,
  // turning the main loop meanwhile: the index of the entry chosen, or absent
  // when the menu was dismissed or could not open.
  virtual std::optional<std::size_t> popUpMenu(const std::vector<StatusMenuEntry>& entries) = 0;
  // Closes the menu popUpMenu is showing, as a dismissal.
  virtual void closeMenu() = 0;
};

using StatusIconPresenterFactory =
    std::function<std::unique_ptr<StatusIconPresenter>(StatusIconEvents& events)>;

// The side of a drawn title when the panel has not said how large icons are.
inline constexpr int kDefaultStatusIconSide = 22;

// The modifier keys held in the event GTK is dispatching; none outside one.
std::uint64_t modifierFlagsOfCurrentEvent();

// `title` drawn as an icon `side` pixels square, in the theme's text colour on
// a transparent ground; for items that have no themed icon. Null when it
// cannot be drawn.
GObjectPtr<GdkPixbuf> drawStatusTitle(const std::string& title, int side);

// The host's status menu as a GtkMenu that the user answers before anything
// else goes on: presenters that show the menu themselves share it.
class StatusPopUpMenu {
 public:
  StatusPopUpMenu() = default;
  ~StatusPopUpMenu() { close(); }
  StatusPopUpMenu(const StatusPopUpMenu&) = delete;
  StatusPopUpMenu& operator=(const StatusPopUpMenu&) = delete;

  // Shows `entries`, each key equivalent as a Control shortcut, placed by
  // `position` (at the pointer when null), and returns once the menu has
  // closed, turning the main loop meanwhile: the index of the entry chosen,
  // or absent when it was dismissed, could not open, or one is open already.
  std::optional<std::size_t> run(const std::vector<StatusMenuEntry>& entries,
                                 GtkMenuPositionFunc position,
                                 gpointer positionData);
  // Closes the open menu, as a dismissal.
  void close();
  // The menu while one is open.
  GtkMenu* openMenu() const { return menu_ ? GTK_MENU(menu_.get()) : nullptr; }

 private:
  GObjectPtr<GtkWidget> menu_;
  GMainLoop* loop_ = nullptr;
};

class StatusImage final : public Image {
 public:
  StatusImage(std::string iconName, std::string description)
      : iconName_(std::move(iconName)), description_(std::move(description)) {}
  void setTemplate(bool flag) override { template_ = flag; }
  bool isTemplate() const { return template_; }
  const std::string& iconName() const { return iconName_; }
  const std::string& description() const { return description_; }

 private:
  std::string iconName_;
  std::string description_;
  bool template_ = false;
};

class StatusMenuItem final : public MenuItem {
 public:
  StatusMenuItem(std::string title, std::string action, std::string keyEquivalent)
      : title_(std::move(title)),
        action_(std::move(action)),
        keyEquivalent_(std::move(keyEquivalent)) {}
  const std::string& title() const { return title_; }
  const std::string& action() const { return action_; }
  const std::string& keyEquivalent() const { return keyEquivalent_; }

 private:
  std::string title_;
  std::string action_;
  std::string keyEquivalent_;
};

class StatusMenu final : public Menu {
 public:
  void addItem(const std::shared_ptr<MenuItem>& item) override;
  // The entries it shows, in order; other platforms' items are left out.
  const std::vector<std::shared_ptr<StatusMenuItem>>& items() const { return items_; }

 private:
  std::vector<std::shared_ptr<StatusMenuItem>> items_;
};

class GtkStatusItem;

class GtkStatusBarButton final : public StatusBarButton {
 public:
  explicit GtkStatusBarButton(std::weak_ptr<GtkStatusItem> item) : item_(std::move(item)) {}

  void setImage(const std::shared_ptr<Image>& image) override;
  void setTitle(const std::string& title) override;
  void setAction(const std::string& selector) override { action_ = selector; }
  void setTarget(std::weak_ptr<Responder> target) override { target_ = std::move(target); }
  // A button sends its action on a left-button release until told otherwise.
  void sendActionOn(std::uint64_t mask) override { mask_ = mask; }
  void performClick() override;

 private:
  friend class GtkStatusItem;
  std::weak_ptr<GtkStatusItem> item_;
  std::shared_ptr<StatusImage> image_;
  std::string title_;
  std::string action_;
  std::weak_ptr<Responder> target_;
  std::uint64_t mask_ = NSEventMaskLeftMouseUp;
};

// A status item: its button, its menu, and the presenter that shows it.
class GtkStatusItem final : public StatusItem,
                            public StatusIconEvents,
                            public std::enable_shared_from_this<GtkStatusItem> {
 public:
  // Made by GtkStatusBar; the application must outlive the item.
  GtkStatusItem(GtkHostApplication& application, const StatusIconPresenterFactory& presenter);
  void attachButton();

  std::shared_ptr<StatusBarButton> button() const override { return button_; }
  void setMenu(const std::shared_ptr<Menu>& menu) override { menu_ = menu; }

  void statusIconClicked(EventType type, std::uint64_t modifierFlags, double timestamp) override;

 private:
  friend class GtkStatusBarButton;
  // Tests of a backend's presenter reach it through the item that made it.
  friend class GtkStatusItemTestPeer;
  void updateIcon();
  // A click with a menu attached: the menu opens, and once it has closed the
  // chosen item's action goes down the responder chain.
  void openMenu();
  void click();

  GtkHostApplication& application_;
  std::unique_ptr<StatusIconPresenter> presenter_;
  std::shared_ptr<GtkStatusBarButton> button_;
  std::shared_ptr<Menu> menu_;
  bool menuOpen_ = false;
};

// The system status bar on an X11 desktop, and the class side of images,
// menus and menu items. Main thread only; GTK must be initialized.
class GtkStatusBar final : public StatusBar {
 public:
  // Items are shown by presenters from `presenter`; by default, tray icons.
  explicit GtkStatusBar(GtkHostApplication& application, StatusIconPresenterFactory presenter = {});

  std::shared_ptr<StatusItem> statusItemWithLength(double length) override;
  // A themed icon standing for the symbol ("textbox": text editing, our own
  // "lumivane" icon when the theme has it); absent when the theme has none.
  std::shared_ptr<Image> imageWithSystemSymbolName(const std::string& name,
                                                   const std::string& description) override;
  std::shared_ptr<Menu> makeMenu() override;
  std::shared_ptr<MenuItem> makeMenuItem(const std::string& title,
                                         const std::string& action,
                                         const std::string& keyEquivalent) override;

 private:
  GtkHostApplication& application_;
  StatusIconPresenterFactory presenter_;
};

}  // namespace lumivane::platform::gtk
