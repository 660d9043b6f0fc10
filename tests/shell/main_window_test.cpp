#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::SimWindowState;
using platform::sim::TraceEvent;
using platform::sim::TraceKind;
using test_support::HostTest;

// The main window of the user-interface file stays out of sight whatever asks
// for it; the interface lives in the panel.
class MainFlutterWindowTest : public HostTest {
 protected:
  SimWindowState& mainWindowState() {
    auto windows = desktop.windows().windows();
    EXPECT_FALSE(windows.empty());
    EXPECT_FALSE(windows.front()->isPanel());
    return *windows.front();
  }
};

TEST_F(MainFlutterWindowTest, HidesItselfWithAnEmptyFrameWhenLoaded) {
  std::vector<std::string> shown;
  desktop.setTraceListener([&](const TraceEvent& e) {
    if (e.kind == TraceKind::windowShown)
      shown.push_back(e.field("window").value_or("?"));
  });
  launch();
  const auto& state = mainWindowState();
  EXPECT_EQ(
      state.operations(),
      (std::vector<std::string>{
          "initWithContentRect:335,390,800,600 styleMask:0x800f backing:2 defer:false",
          "awakeFromNib", "setIsVisible:false", "orderOut", "setFrame:0,0,0,0 display:false"}));
  EXPECT_EQ(ui.mainWindow->frame(), platform::CGRectMake(0, 0, 0, 0));
  EXPECT_FALSE(ui.mainWindow->isVisible());
  EXPECT_FALSE(ui.mainWindow->isKeyWindow());
  // Only the panel ever came on screen, though the file marks the window
  // visible at launch.
  EXPECT_EQ(shown, std::vector<std::string>{panel()->name()});
}

TEST_F(MainFlutterWindowTest, RequestsToComeForwardAreIgnored) {
  launch();
  const std::size_t logged = mainWindowState().operations().size();
  ui.mainWindow->makeKeyAndOrderFront();
  ui.mainWindow->orderFront();
  EXPECT_EQ(desktop.application().reopen(), true);
  EXPECT_EQ(mainWindowState().operations().size(), logged);
  EXPECT_FALSE(ui.mainWindow->isVisible());
  EXPECT_FALSE(ui.mainWindow->isKeyWindow());
  EXPECT_TRUE(panel()->isKeyWindow());
}

}  // namespace
}  // namespace lumivane
