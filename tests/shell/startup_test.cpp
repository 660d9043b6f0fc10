#include <gtest/gtest.h>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::sim::SimPanel;
using test_support::HostTest;

using StartupTest = HostTest;

TEST_F(StartupTest, LaunchShowsTheCentredPanelAndTellsTheEmbeddingLast) {
  launch();
  auto p = panel();
  ASSERT_TRUE(p);
  EXPECT_TRUE(p->isVisible());
  EXPECT_TRUE(p->isKeyWindow());
  EXPECT_EQ(p->contentSize(), (platform::CGSize{600, 600}));
  EXPECT_TRUE(desktop.application().isActive());
  EXPECT_EQ(desktop.flutter().launchNotifications().size(), 1u);
  EXPECT_TRUE(host().statusItem);
  EXPECT_TRUE(host().selectionChannel);
  EXPECT_TRUE(host().systemChannel);
  EXPECT_TRUE(host().hasHotKey());
}

}  // namespace
}  // namespace lumivane
