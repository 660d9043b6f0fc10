#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::SimWindowState;
using platform::sim::TraceEvent;
using platform::sim::TraceKind;

using MainFlutterWindowTest = test_support::HostTest;

// The main window of the user-interface file stays out of sight, with an empty
// frame, whatever asks for it (the file itself marks it visible at launch):
// the interface lives in the panel, the only window that comes on screen.
TEST_F(MainFlutterWindowTest, StaysHiddenWhateverAsksForIt) {
  std::vector<std::string> shown;
  desktop.setTraceListener([&](const TraceEvent& e) {
    if (e.kind == TraceKind::windowShown)
      shown.push_back(e.field("window").value_or("?"));
  });
  launch();
  ui.mainWindow->makeKeyAndOrderFront();
  ui.mainWindow->orderFront();
  EXPECT_EQ(desktop.application().reopen(), true);
  const SimWindowState& state = *desktop.windows().windows().front();
  ASSERT_FALSE(state.isPanel());
  EXPECT_FALSE(state.visible());
  EXPECT_FALSE(state.key());
  EXPECT_EQ(state.currentFrame(), platform::CGRectMake(0, 0, 0, 0));
  EXPECT_TRUE(panel()->key());
  EXPECT_EQ(shown, std::vector<std::string>{panel()->name()});
}

}  // namespace
}  // namespace lumivane
