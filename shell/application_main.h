#pragma once

#include <memory>

#include "platform/desktop.h"
#include "shell/app_delegate.h"
#include "shell/main_flutter_window.h"

namespace lumivane {

// The objects of the main user-interface file, alive while it is loaded: the
// hidden main window and the one application delegate.
struct MainInterface {
  std::shared_ptr<MainFlutterWindow> mainWindow;
  std::shared_ptr<AppDelegate> delegate;
};

// Loads the main user-interface file: wakes its main window (which hides
// itself, even though the file marks it visible at launch) and creates the
// delegate, made the application's delegate.
MainInterface loadMainInterface(platform::Desktop& desktop);

// The application's main loop over `desktop`: loads the main user-interface
// file, runs the application until it terminates and returns its exit status.
int NSApplicationMain(platform::Desktop& desktop, int argc, char** argv);

}  // namespace lumivane
