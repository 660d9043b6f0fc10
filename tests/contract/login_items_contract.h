#pragma once

// What every backend's launch at login promises the host, written against the
// seam alone and run against each backend through a harness.
//
// A login-items harness `H` offers:
//   platform::LoginItems& loginItems();
//   static constexpr bool kCanRefuse;
//   void refuseChanges();   // only when kCanRefuse: the next changes fail

#include <gtest/gtest.h>

#include <optional>

#include "platform/login_items.h"

namespace lumivane::contract {

template <class H>
class LoginItemsContract : public ::testing::Test {
 protected:
  platform::AppService& service() { return harness.loginItems().mainAppService(); }
  H harness;
};

TYPED_TEST_SUITE_P(LoginItemsContract);

TYPED_TEST_P(LoginItemsContract, RegisteringEnablesAndUnregisteringDisables) {
  ASSERT_TRUE(this->harness.loginItems().isSupported());
  auto& service = this->service();
  EXPECT_NE(service.status(), platform::SMAppServiceStatus::enabled);
  std::optional<platform::NSError> error;
  ASSERT_TRUE(service.registerAndReturnError(error));
  EXPECT_EQ(service.status(), platform::SMAppServiceStatus::enabled);
  ASSERT_TRUE(service.registerAndReturnError(error)) << "registering twice is harmless";
  EXPECT_TRUE(service.unregisterAndReturnError(error));
  EXPECT_NE(service.status(), platform::SMAppServiceStatus::enabled);
  // Switching off again may or may not be an error, but never switches on.
  service.unregisterAndReturnError(error);
  EXPECT_NE(service.status(), platform::SMAppServiceStatus::enabled);
}

// A refused change says so with a description a user can read, and changes
// nothing.
TYPED_TEST_P(LoginItemsContract, ARefusedChangeSaysWhyAndChangesNothing) {
  if constexpr (!TypeParam::kCanRefuse) {
    GTEST_SKIP() << "nothing refuses this backend's login items";
  } else {
    auto& service = this->service();
    this->harness.refuseChanges();
    std::optional<platform::NSError> error;
    EXPECT_FALSE(service.registerAndReturnError(error));
    ASSERT_TRUE(error);
    EXPECT_FALSE(error->localizedDescription.empty());
    EXPECT_NE(service.status(), platform::SMAppServiceStatus::enabled);
  }
}

REGISTER_TYPED_TEST_SUITE_P(LoginItemsContract,
                            RegisteringEnablesAndUnregisteringDisables,
                            ARefusedChangeSaysWhyAndChangesNothing);

}  // namespace lumivane::contract
