#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::SMAppServiceStatus;
using platform::sim::LoginRegistrationBehaviour;
using test_support::HostTest;

class LaunchAtLoginTest : public HostTest {
 protected:
  platform::sim::SimAppService& service() { return desktop.loginItems().service(); }
};

// Only "enabled" reads as on; a registration waiting for the user's approval
// does not.
TEST_F(LaunchAtLoginTest, OnlyAnEnabledServiceReadsAsOn) {
  launch();
  service().setRegistrationBehaviour(LoginRegistrationBehaviour::needsApproval);
  EXPECT_EQ(host().setLaunchAtLogin(true), std::nullopt);
  EXPECT_FALSE(host().isLaunchAtLoginEnabled());
  service().setStatus(SMAppServiceStatus::notFound);
  EXPECT_FALSE(host().isLaunchAtLoginEnabled());
  EXPECT_EQ(desktop.standardOutput().text(), "");
}

TEST_F(LaunchAtLoginTest, SwitchingOffWhenNotRegisteredStillAsksThePlatform) {
  launch();
  EXPECT_TRUE(host().setLaunchAtLogin(false).has_value());
  EXPECT_EQ(loginServiceChanges(), std::vector<std::string>{"unregister"});
  EXPECT_EQ(desktop.standardOutput().lines(),
            std::vector<std::string>{"Failed to update launch at login: The operation couldn’t be "
                                     "completed. (SMAppServiceErrorDomain error 3.)"});
}

// Before macOS 13 the service does not exist; reaching it there is recorded
// as misuse and fails the test at teardown.
TEST_F(LaunchAtLoginTest, OlderThanMacOS13ItIsAbsentAndReadsOff) {
  desktop.loginItems().setOperatingSystemVersion({12, 7, 6});
  launch();
  EXPECT_EQ(host().setLaunchAtLogin(true), std::nullopt);
  EXPECT_FALSE(host().isLaunchAtLoginEnabled());
  EXPECT_TRUE(service().calls().empty());
  EXPECT_EQ(desktop.standardOutput().text(), "");

  desktop.loginItems().setOperatingSystemVersion({13, 0, 0});
  EXPECT_EQ(host().setLaunchAtLogin(true), std::nullopt);
  EXPECT_TRUE(host().isLaunchAtLoginEnabled());
}

}  // namespace
}  // namespace lumivane
