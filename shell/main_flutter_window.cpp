#include "shell/main_flutter_window.h"

namespace lumivane {

MainFlutterWindow::MainFlutterWindow(platform::WindowFactory& factory,
                                     platform::CGRect contentRect,
                                     std::uint64_t styleMask,
                                     platform::BackingStoreType backing,
                                     bool defer)
    : base_(factory.makeWindow(contentRect, styleMask, backing, defer)) {}

void MainFlutterWindow::awakeFromNib() {
  base_->awakeFromNib();
  base_->setIsVisible(false);
  base_->orderOut();
  base_->setFrame(platform::CGRectMake(0, 0, 0, 0), /*display=*/false);
}

}  // namespace lumivane
