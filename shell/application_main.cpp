#include "shell/application_main.h"

namespace lumivane {

MainInterface loadMainInterface(platform::Desktop& desktop) {
  MainInterface loaded;
  loaded.mainWindow = std::make_shared<MainFlutterWindow>(
      desktop.windows(), platform::CGRectMake(335, 390, 800, 600),
      platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskClosable |
          platform::NSWindowStyleMaskMiniaturizable | platform::NSWindowStyleMaskResizable |
          platform::NSWindowStyleMaskFullSizeContentView,
      platform::BackingStoreType::buffered, /*defer=*/false);
  loaded.mainWindow->awakeFromNib();
  // The file marks the window visible at launch, so loading orders it front;
  // the window declines.
  loaded.mainWindow->makeKeyAndOrderFront();
  loaded.delegate = std::make_shared<AppDelegate>(desktop);
  desktop.application().setDelegate(loaded.delegate);
  return loaded;
}

int NSApplicationMain(platform::Desktop& desktop, int /*argc*/, char** /*argv*/) {
  const MainInterface loaded = loadMainInterface(desktop);
  return desktop.application().run();
}

}  // namespace lumivane
