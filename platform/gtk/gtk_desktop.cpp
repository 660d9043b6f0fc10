#include "platform/gtk/gtk_desktop.h"

#include <iostream>
#include <utility>

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
      stopWorkers_(application_.addTerminationHook([this] { dispatch_.stopWorkers(); })) {}

GtkDesktop::~GtkDesktop() {
  dispatch_.stopWorkers();
}

}  // namespace lumivane::platform::gtk
