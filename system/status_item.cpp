#include "shell/app_delegate.h"

namespace lumivane {

void AppDelegate::setupStatusItem() {
  auto& statusBar = desktop_.statusBar();
  statusItem = statusBar.statusItemWithLength(platform::NSSquareStatusItemLength);
  auto button = statusItem ? statusItem->button() : nullptr;
  if (!button)
    return;
  if (auto image = statusBar.imageWithSystemSymbolName("textbox", "Lumivane")) {
    image->setTemplate(true);
    button->setImage(image);
  } else {
    button->setTitle("T");
  }
  button->setAction("statusBarButtonClicked");
  button->setTarget(weak_from_this());
  // Released buttons only: a right press must not also start a capture.
  button->sendActionOn(platform::NSEventMaskLeftMouseUp | platform::NSEventMaskRightMouseUp);
}

void AppDelegate::statusBarButtonClicked() {
  // Decided by which button went up, never by modifier keys.
  auto event = desktop_.application().currentEvent();
  if (event && event->type == platform::EventType::rightMouseUp) {
    showStatusBarMenu();
    return;
  }
  if (floatingPanel && floatingPanel->isVisible()) {
    floatingPanel->orderOut();
    return;
  }
  showAndCaptureSelection();
}

void AppDelegate::showStatusBarMenu() {
  auto& statusBar = desktop_.statusBar();
  auto menu = statusBar.makeMenu();
  menu->addItem(statusBar.makeMenuItem("Quit", "terminate:", "q"));
  if (!statusItem)
    return;
  // Attached only while it is open: with a menu attached, the next left click
  // would open the menu instead of toggling the panel.
  statusItem->setMenu(menu);
  if (auto button = statusItem->button())
    button->performClick();
  statusItem->setMenu(nullptr);
}

}  // namespace lumivane
