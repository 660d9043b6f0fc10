#pragma once

#include "platform/accessibility_trust.h"
#include "platform/application.h"
#include "platform/dispatch.h"
#include "platform/hot_keys.h"
#include "platform/keyboard_events.h"
#include "platform/login_items.h"
#include "platform/pasteboard.h"
#include "platform/standard_output.h"
#include "platform/status_bar.h"
#include "platform/view.h"
#include "platform/window.h"
#include "platform/workspace.h"

namespace lumivane::platform {

class FlutterEmbedding;

// Every platform service the host uses, from one backend. The process entry
// picks a backend (platform/backends.h) and hands its desktop to the host;
// host code reaches the operating system only through it. Services live as
// long as the desktop, and a desktop shares nothing with another one: several
// may live in one process (tests make many) without seeing each other's
// events.
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
  virtual Dispatch& dispatch() = 0;
  virtual StandardOutput& standardOutput() = 0;
  virtual FlutterEmbedding& flutter() = 0;
};

}  // namespace lumivane::platform
