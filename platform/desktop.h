#pragma once

#include "platform/accessibility.h"
#include "platform/application.h"
#include "platform/dispatch.h"
#include "platform/hot_keys.h"
#include "platform/keyboard_events.h"
#include "platform/login_items.h"
#include "platform/pasteboard.h"
#include "platform/process_info.h"
#include "platform/status_bar.h"
#include "platform/view.h"
#include "platform/window.h"
#include "platform/workspace.h"

namespace lumivane::platform {

class FlutterEmbedding;

// Every platform service the host uses, from one backend. The process entry
// picks a backend and hands its desktop to the host; host code reaches the
// operating system only through it. Services live as long as the desktop.
class Desktop {
 public:
  virtual ~Desktop() = default;

  virtual Application& application() = 0;
  virtual WindowFactory& windows() = 0;
  virtual ViewFactory& views() = 0;
  virtual StatusBar& statusBar() = 0;
  virtual Pasteboard& generalPasteboard() = 0;
  virtual Workspace& workspace() = 0;
  virtual Bundle& mainBundle() = 0;
  virtual KeyboardEvents& keyboardEvents() = 0;
  virtual HotKeys& hotKeys() = 0;
  virtual Accessibility& accessibility() = 0;
  virtual LoginItems& loginItems() = 0;
  virtual ProcessInfo& processInfo() = 0;
  virtual Dispatch& dispatch() = 0;
  virtual StandardOutput& standardOutput() = 0;
  virtual FlutterEmbedding& flutter() = 0;
};

// The desktop of the running application, for plain callbacks that get no
// context (Cocoa's NSApp and GCD's main queue play this part). Absent before a
// backend has started the application and after it has ended.
Desktop* sharedDesktop();

// Makes `desktop` the shared one for the scope's lifetime. Backends hold one
// while their application runs; only one may exist at a time.
class SharedDesktopScope {
 public:
  explicit SharedDesktopScope(Desktop& desktop);
  ~SharedDesktopScope();
  SharedDesktopScope(const SharedDesktopScope&) = delete;
  SharedDesktopScope& operator=(const SharedDesktopScope&) = delete;

 private:
  Desktop* previous_;
};

}  // namespace lumivane::platform
