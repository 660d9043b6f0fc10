#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "capture/clipboard_lease.h"
#include "platform/desktop.h"
#include "platform/flutter/flutter_app_delegate.h"
#include "platform/flutter/flutter_view_controller.h"
#include "platform/flutter/method_channel.h"

namespace lumivane {

// The host's application delegate: the one owner of the host's long-lived
// state, and where the host starts. Every operation runs on the main thread
// unless its comment says otherwise. Operations are defined in the folder of
// their subsystem (shell/, bridge/, capture/, system/).
class AppDelegate : public platform::FlutterAppDelegate,
                    public std::enable_shared_from_this<AppDelegate> {
 public:
  // All fields empty; nothing else happens until launching finishes.
  explicit AppDelegate(platform::Desktop& desktop);
  ~AppDelegate() override;
  AppDelegate(const AppDelegate&) = delete;
  AppDelegate& operator=(const AppDelegate&) = delete;

  // Application lifecycle (shell/app_delegate.cpp).
  void applicationDidFinishLaunching(const platform::Notification& notification) override;
  bool applicationShouldTerminateAfterLastWindowClosed() override;
  bool applicationShouldHandleReopen(bool hasVisibleWindows) override;
  bool applicationSupportsSecureRestorableState() override;
  // Gives the user's clipboard back before the host goes: the steps of a
  // capture or paste that would have put it back never run once it has.
  void applicationWillTerminate(const platform::Notification& notification) override;
  // Target/action entry: "statusBarButtonClicked".
  bool performAction(const std::string& selector) override;

  // The floating panel (shell/floating_panel.cpp).
  void setupFloatingPanel();
  void showPanel();

  // The two channels to the interface (bridge/method_channels.cpp).
  void setupMethodChannel(const std::shared_ptr<platform::FlutterViewController>& controller);

  // Which application the user last worked in (capture/active_app_tracking.cpp).
  void setupAppActivationObserver();
  void appDidActivate(const platform::Notification& notification);
  void updateLastActiveAppIfNeeded();
  // The recorded application, taken whole; safe on any thread.
  std::shared_ptr<platform::RunningApplication> lastActiveApplication() const;
  platform::pid_t lastActiveApplicationPid() const;

  // Capture of the selection (capture/selection_capture.cpp).
  void showAndCaptureSelection();
  // Copies the recorded application's selection through the pasteboard and
  // puts the user's pasteboard back. Blocks its caller for up to about a
  // second; any thread.
  std::optional<std::string> getSelectionViaClipboard();
  // The interface's own request for the selection, on the main thread: waits
  // for a capture that is using the pasteboard on a worker to put it back,
  // then copies as getSelectionViaClipboard does, leaving a pending paste's
  // text on the pasteboard for its chord.
  std::optional<std::string> captureSelectionNow();

  // Paste into the recorded application (capture/paste.cpp). True when the
  // paste has been set going.
  bool pasteTextToLastActiveApp(const std::string& text);

  // The global hot key (system/global_hot_key.cpp).
  void setupGlobalHotKey();
  // Replaces the registered hot key. Returns the platform's status of the new
  // registration; when it failed, the previous chord has been registered again.
  platform::OSStatus updateGlobalHotKey(std::uint32_t keyCode, std::uint32_t modifiers);
  bool hasHotKey() const { return hotKeyRef != nullptr; }

  // The menu-bar item (system/status_item.cpp).
  void setupStatusItem();
  void statusBarButtonClicked();
  void showStatusBarMenu();

  // Launch at login (system/launch_at_login.cpp). Returns the platform's
  // error when it refused the change.
  std::optional<platform::NSError> setLaunchAtLogin(bool enabled);
  bool isLaunchAtLoginEnabled();

  platform::Desktop& desktop() const { return desktop_; }
  const std::shared_ptr<platform::Panel>& panel() const { return floatingPanel; }
  const std::shared_ptr<platform::FlutterViewController>& viewController() const {
    return flutterVC;
  }

  // Open to the other subsystems: the channels and the menu-bar item.
  std::shared_ptr<platform::FlutterMethodChannel> selectionChannel;
  std::shared_ptr<platform::FlutterMethodChannel> systemChannel;
  std::shared_ptr<platform::StatusItem> statusItem;

 private:
  void recordIfNotHost(const std::shared_ptr<platform::RunningApplication>& candidate);
  void runCaptureInBackground();
  void startPaste(const std::string& text,
                  const std::shared_ptr<platform::RunningApplication>& target);

  // Written on the main thread only; read on the capture's worker too, so the
  // pair is guarded and readers take the handle whole.
  mutable std::mutex lastActiveAppMutex_;
  std::shared_ptr<platform::RunningApplication> lastActiveApp;
  platform::pid_t lastActiveAppPid = 0;
  platform::EventHotKeyRef hotKeyRef = nullptr;
  std::shared_ptr<platform::Panel> floatingPanel;
  std::shared_ptr<platform::FlutterViewController> flutterVC;

  platform::Desktop& desktop_;
  // The chord last registered successfully, put back when a change is refused.
  std::uint32_t hotKeyCode_ = 0;
  std::uint32_t hotKeyModifiers_ = 0;
  ClipboardLease clipboardLease_;
};

}  // namespace lumivane
