#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::test_support {

void expectNoLeaks(const platform::sim::SimDesktop& desktop) {
  const auto live = desktop.liveObjects();
  EXPECT_TRUE(live.none()) << "platform objects still alive: " << live.describe();
}

void expectNoMisuse(const platform::sim::SimDesktop& desktop) {
  for (const auto& entry : desktop.misuse()) {
    ADD_FAILURE() << "platform misuse: " << entry;
  }
}

std::shared_ptr<platform::sim::SimRunningApplication> SimDesktopTest::frontApp(
    const std::string& name,
    platform::pid_t pid,
    const std::string& selection) {
  auto app = desktop.addApplication(
      platform::sim::AppProfile{name, "com.example." + name, pid, selection});
  desktop.bringToFront(app);
  desktop.runUntilIdle();
  return app;
}

}  // namespace lumivane::test_support
