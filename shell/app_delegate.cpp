#include "shell/app_delegate.h"

namespace lumivane {

AppDelegate::AppDelegate(platform::Desktop& desktop)
    : platform::FlutterAppDelegate(desktop.flutter()), desktop_(desktop) {}

AppDelegate::~AppDelegate() {
  // Released in the order the host acquired them for the interface: channels
  // first, so nothing reaches the interface while the rest goes. The hot key,
  // the activation observer and the channels' registrations are left to the
  // end of the process.
  selectionChannel.reset();
  systemChannel.reset();
  statusItem.reset();
  {
    std::lock_guard lock(lastActiveAppMutex_);
    lastActiveApp.reset();
  }
  floatingPanel.reset();
  flutterVC.reset();
}

void AppDelegate::applicationDidFinishLaunching(const platform::Notification& notification) {
  setupFloatingPanel();
  // Without the interface there is nothing to show or to talk to: stay out of
  // the menu bar and leave the embedding unlaunched.
  if (!flutterVC)
    return;
  setupStatusItem();
  setupMethodChannel(flutterVC);
  setupAppActivationObserver();
  setupGlobalHotKey();
  showPanel();
  platform::FlutterAppDelegate::applicationDidFinishLaunching(notification);
}

bool AppDelegate::applicationShouldTerminateAfterLastWindowClosed() {
  // The host lives in the menu bar; closing the panel must not end it.
  return false;
}

bool AppDelegate::applicationShouldHandleReopen(bool /*hasVisibleWindows*/) {
  showPanel();
  return true;
}

bool AppDelegate::applicationSupportsSecureRestorableState() {
  return true;
}

void AppDelegate::applicationWillTerminate(const platform::Notification& /*notification*/) {
  // A capture's worker ends within its own bounds (about a second, more when
  // the target is slow to come forward); the main thread waits for it as the
  // interface's own capture request does.
  auto& dispatch = desktop_.dispatch();
  clipboardLease_.relinquish(desktop_.generalPasteboard(),
                             [&dispatch] { dispatch.sleepForTimeInterval(0.01); });
}

bool AppDelegate::performAction(const std::string& selector) {
  if (selector == "statusBarButtonClicked") {
    statusBarButtonClicked();
    return true;
  }
  return false;
}

}  // namespace lumivane
