#pragma once

#include <cstdint>
#include <deque>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/event.h"
#include "platform/sim/sim_common.h"
#include "platform/status_bar.h"

namespace lumivane::platform::sim {

class SimApplication;
class SimClock;
class SimStatusBar;
class SimStatusItem;

class SimImage final : public Image {
 public:
  SimImage(std::string symbolName, std::string description)
      : symbolName_(std::move(symbolName)), description_(std::move(description)) {}
  void setTemplate(bool flag) override { template_ = flag; }
  bool isTemplate() const { return template_; }
  std::string accessibilityDescription() const { return description_; }
  const std::string& symbolName() const { return symbolName_; }

 private:
  std::string symbolName_;
  std::string description_;
  bool template_ = false;
};

class SimMenuItem final : public MenuItem {
 public:
  SimMenuItem(std::shared_ptr<LiveCounters> live,
              std::string title,
              std::string action,
              std::string keyEquivalent);
  std::string title() const { return title_; }
  std::string action() const { return action_; }
  std::string keyEquivalent() const { return keyEquivalent_; }

 private:
  LiveToken live_;
  std::string title_;
  std::string action_;
  std::string keyEquivalent_;
};

class SimMenu final : public Menu {
 public:
  explicit SimMenu(std::shared_ptr<LiveCounters> live)
      : live_(std::move(live), &LiveCounters::menus) {}
  void addItem(const std::shared_ptr<MenuItem>& item) override { items_.push_back(item); }
  // The entries the menu shows, in order; entries of another platform's
  // making are left out.
  std::vector<std::shared_ptr<SimMenuItem>> items() const;
  std::string title() const { return {}; }

 private:
  LiveToken live_;
  std::vector<std::shared_ptr<MenuItem>> items_;
};

class SimStatusBarButton final : public StatusBarButton {
 public:
  SimStatusBarButton(std::weak_ptr<SimStatusBar> bar, std::weak_ptr<SimStatusItem> item)
      : bar_(std::move(bar)), item_(std::move(item)) {}

  void setImage(const std::shared_ptr<Image>& image) override { image_ = image; }
  std::shared_ptr<Image> image() const { return image_; }
  void setTitle(const std::string& title) override { title_ = title; }
  std::string title() const { return title_; }
  void setAction(const std::string& selector) override { action_ = selector; }
  std::string action() const { return action_; }
  void setTarget(std::weak_ptr<Responder> target) override { target_ = std::move(target); }
  std::shared_ptr<Responder> target() const { return target_.lock(); }
  // A control sends its action on a left-button release until told otherwise.
  void sendActionOn(std::uint64_t mask) override { mask_ = mask; }
  std::uint64_t sendActionMask() const { return mask_; }
  void performClick() override;

 private:
  std::weak_ptr<SimStatusBar> bar_;
  std::weak_ptr<SimStatusItem> item_;
  std::shared_ptr<Image> image_;
  std::string title_;
  std::string action_;
  std::weak_ptr<Responder> target_;
  std::uint64_t mask_ = NSEventMaskLeftMouseUp;
};

class SimStatusItem final : public StatusItem {
 public:
  explicit SimStatusItem(double length) : length_(length) {}
  std::shared_ptr<StatusBarButton> button() const override { return button_; }
  void setMenu(const std::shared_ptr<Menu>& menu) override { menu_ = menu; }
  std::shared_ptr<Menu> menu() const { return menu_; }
  double length() const { return length_; }

  std::shared_ptr<SimStatusBarButton> simButton() const { return button_; }

 private:
  friend class SimStatusBar;
  double length_;
  std::shared_ptr<SimStatusBarButton> button_;
  std::shared_ptr<Menu> menu_;
};

// One line of an opened menu.
struct MenuEntry {
  std::string title;
  std::string keyEquivalent;
  std::string action;
  friend bool operator==(const MenuEntry&, const MenuEntry&) = default;
};

// A menu the user saw, and what became of it.
struct MenuOpening {
  double time = 0;
  std::vector<MenuEntry> entries;
  // The item chosen; absent when the user dismissed the menu.
  std::optional<std::string> chosen;
};

// The system status bar, with the user's clicks and menu choices.
class SimStatusBar final : public StatusBar, public std::enable_shared_from_this<SimStatusBar> {
 public:
  SimStatusBar(SimClock& clock,
               SimTrace& trace,
               MisuseLog& misuse,
               SimApplication& application,
               std::shared_ptr<LiveCounters> live);

  // StatusBar.
  std::shared_ptr<StatusItem> statusItemWithLength(double length) override;
  std::shared_ptr<Image> imageWithSystemSymbolName(const std::string& name,
                                                   const std::string& description) override;
  std::shared_ptr<Menu> makeMenu() override;
  std::shared_ptr<MenuItem> makeMenuItem(const std::string& title,
                                         const std::string& action,
                                         const std::string& keyEquivalent) override;

  // Scripting. Items made from now on have no button.
  void setItemsHaveNoButton(bool flag) { itemsHaveNoButton_ = flag; }
  // System symbols; "textbox" and a few other common ones exist by default.
  void removeSymbol(const std::string& name) { symbols_.erase(name); }
  // The user releases a mouse button over the newest status item still in the
  // menu bar (or the given one), holding `modifierFlags`. Delivered on the main
  // thread at the current time. False when there is no item with a button to
  // click.
  bool clickStatusItem(EventType type, std::uint64_t modifierFlags = 0);
  bool clickStatusItem(const std::shared_ptr<StatusItem>& item,
                       EventType type,
                       std::uint64_t modifierFlags = 0);
  // The next menu that opens gets the item titled `title` chosen; menus with
  // no choice queued are dismissed.
  void chooseMenuItem(std::string title) { choices_.push_back(std::move(title)); }

  // Inspection.
  std::vector<std::shared_ptr<SimStatusItem>> statusItems() const;
  const std::vector<MenuOpening>& menuOpenings() const { return menuOpenings_; }

 private:
  friend class SimStatusBarButton;
  // Tracks `menu` until the user is done with it.
  void openMenu(const std::shared_ptr<Menu>& menu);
  void deliverClick(const std::shared_ptr<SimStatusItem>& item, const Event& event);

  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  SimApplication& application_;
  std::shared_ptr<LiveCounters> live_;
  bool itemsHaveNoButton_ = false;
  std::set<std::string> symbols_;
  std::deque<std::string> choices_;
  std::vector<std::weak_ptr<SimStatusItem>> items_;
  std::vector<MenuOpening> menuOpenings_;
};

}  // namespace lumivane::platform::sim
