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
  void SetUp() override {
    HostTest::SetUp();
    desktop.setTraceListener([this](const TraceEvent& e) {
      if (e.kind == TraceKind::windowShown)
        shown.push_back(e.field("window").value_or("?"));
    });
  }

  SimWindowState& mainWindowState() {
    auto windows = desktop.windows().windows();
    EXPECT_FALSE(windows.empty());
    EXPECT_FALSE(windows.front()->isPanel());
    return *windows.front();
  }

  // Windows that came on screen, in order.
  std::vector<std::string> shown;
};

TEST_F(MainFlutterWindowTest, HidesItselfWithAnEmptyFrameWhenLoaded) {
  launch();
  const auto& state = mainWindowState();
  EXPECT_EQ(state.currentFrame(), platform::CGRectMake(0, 0, 0, 0));
  EXPECT_FALSE(state.visible());
  EXPECT_FALSE(state.key());
  // Only the panel ever came on screen, though the file marks the window
  // visible at launch.
  EXPECT_EQ(shown, std::vector<std::string>{panel()->name()});
}

TEST_F(MainFlutterWindowTest, RequestsToComeForwardAreIgnored) {
  launch();
  ui.mainWindow->makeKeyAndOrderFront();
  ui.mainWindow->orderFront();
  EXPECT_EQ(desktop.application().reopen(), true);
  const auto& state = mainWindowState();
  EXPECT_FALSE(state.visible());
  EXPECT_FALSE(state.key());
  EXPECT_EQ(state.currentFrame(), platform::CGRectMake(0, 0, 0, 0));
  EXPECT_TRUE(panel()->key());
  EXPECT_EQ(shown, std::vector<std::string>{panel()->name()});
}

}  // namespace
}  // namespace lumivane
