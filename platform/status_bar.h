#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/application.h"

namespace lumivane::platform {

// The item length that makes a square item (NSSquareStatusItemLength).
inline constexpr double NSSquareStatusItemLength = -2.0;
inline constexpr double NSVariableStatusItemLength = -1.0;

// An image (NSImage). Main thread only.
class Image {
 public:
  virtual ~Image() = default;
  // A template image is drawn in the menu bar's own colour.
  virtual void setTemplate(bool flag) = 0;
};

// One entry of a menu (NSMenuItem), made by StatusBar::makeMenuItem with its
// title, action and key equivalent. Choosing it sends the action down the
// responder chain. Main thread only.
class MenuItem {
 public:
  virtual ~MenuItem() = default;
};

// A menu (NSMenu). Main thread only.
class Menu {
 public:
  virtual ~Menu() = default;
  virtual void addItem(const std::shared_ptr<MenuItem>& item) = 0;
};

// The button of a status item (NSStatusBarButton). Main thread only.
class StatusBarButton {
 public:
  virtual ~StatusBarButton() = default;
  virtual void setImage(const std::shared_ptr<Image>& image) = 0;
  virtual void setTitle(const std::string& title) = 0;
  // The selector sent when the button is clicked (setAction:); empty for none.
  virtual void setAction(const std::string& selector) = 0;
  // Who receives the action (setTarget:); held weakly, as AppKit does.
  virtual void setTarget(std::weak_ptr<Responder> target) = 0;
  // Which mouse events send the action (sendActionOn:, an NSEventMask).
  virtual void sendActionOn(std::uint64_t mask) = 0;
  // Clicks the button as the user would (performClick:). When the status item
  // has a menu attached, the menu opens under the item instead of the action
  // being sent, and the call returns once the menu has closed.
  virtual void performClick() = 0;
};

// An item in the menu bar (NSStatusItem). It stays in the menu bar while
// somebody holds it.
class StatusItem {
 public:
  virtual ~StatusItem() = default;
  // Absent when the platform gave the item no button.
  virtual std::shared_ptr<StatusBarButton> button() const = 0;
  // Attaches a menu that a click opens (setMenu:); absent detaches it.
  virtual void setMenu(const std::shared_ptr<Menu>& menu) = 0;
};

// The system-wide status bar (NSStatusBar systemStatusBar) and the class side
// of NSImage, NSMenu and NSMenuItem.
class StatusBar {
 public:
  virtual ~StatusBar() = default;
  // A new item at the right end of the menu bar (statusItemWithLength:).
  virtual std::shared_ptr<StatusItem> statusItemWithLength(double length) = 0;
  // A system symbol image (imageWithSystemSymbolName:accessibilityDescription:);
  // absent when the system has no symbol of that name.
  virtual std::shared_ptr<Image> imageWithSystemSymbolName(const std::string& name,
                                                           const std::string& description) = 0;
  // A new, empty menu with no title (NSMenu init).
  virtual std::shared_ptr<Menu> makeMenu() = 0;
  // initWithTitle:action:keyEquivalent:; the item has no target.
  virtual std::shared_ptr<MenuItem> makeMenuItem(const std::string& title,
                                                 const std::string& action,
                                                 const std::string& keyEquivalent) = 0;
};

}  // namespace lumivane::platform
