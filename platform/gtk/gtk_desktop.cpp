#include "platform/gtk/gtk_desktop.h"

#include <iostream>
#include <utility>

#include "platform/gtk/gtk_hot_keys.h"

namespace lumivane::platform::gtk {

void StandardOutputStream::write(const std::string& text) {
  std::cout << text << std::flush;
}

namespace {

GtkApplicationOptions applicationOptions(std::shared_ptr<WindowSystem> windowSystem) {
  GtkApplicationOptions options;
  options.windowSystem = std::move(windowSystem);
  return options;
}

}  // namespace

GtkDesktop::GtkDesktop(GtkDesktopParts parts)
    : application_(applicationOptions(std::move(parts.windowSystem))),
      statusBar_(application_, std::move(parts.statusIcons)),
      bundle_(std::move(parts.bundleIdentifier)),
      stopWorkers_(application_.addTerminationHook([this] { dispatch_.stopWorkers(); })) {
  // `lumivane --capture` from a shortcut the display's hot keys do not see.
  application_.onCaptureAsked([this] {
    if (auto* hotKeys = dynamic_cast<GtkHotKeys*>(&this->hotKeys()))
      hotKeys->pressFromOutside();
  });
}

GtkDesktop::~GtkDesktop() {
  dispatch_.stopWorkers();
}

}  // namespace lumivane::platform::gtk
