#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::CGSize;
using platform::Color;
using platform::sim::LayoutEdge;
using platform::sim::SimViewState;
using platform::sim::SimWindowState;
using test_support::HostTest;

class FloatingPanelTest : public HostTest {
 protected:
  const std::vector<std::string>& operations() {
    return SimWindowState::from(host().panel())->operations();
  }
  // The operations since `mark` operations had been logged.
  std::vector<std::string> operationsSince(std::size_t mark) {
    return {operations().begin() + static_cast<std::ptrdiff_t>(mark), operations().end()};
  }
};

TEST_F(FloatingPanelTest, IsConfiguredInOrderThenCentredAndMadeKey) {
  launch();
  EXPECT_EQ(operations(), (std::vector<std::string>{
                              "initWithContentRect:0,0,600,600 styleMask:0x800b backing:2 "
                              "defer:false",
                              "setContentViewController",
                              "setContentSize:600x600",
                              "setTitle:Lumivane",
                              "setLevel:3",
                              "setCollectionBehavior:0x109",
                              "setHidesOnDeactivate:false",
                              "setFloatingPanel:true",
                              "setOpaque:false",
                              "setBackgroundColor:0,0,0,0",
                              "setTitleVisibility:hidden",
                              "setTitlebarAppearsTransparent:true",
                              "setTitlebarSeparatorStyle:none",
                              "setMovableByWindowBackground:false",
                              "setHasShadow:true",
                              "center",
                              "makeKeyAndOrderFront",
                          }));
  EXPECT_EQ(panel()->contentViewController(), host().viewController());
  EXPECT_EQ(host().viewController()->backgroundColor(), Color::clearColor());
  // Deactivation leaves it on screen.
  desktop.bringToFront(editor);
  desktop.runUntilIdle();
  EXPECT_TRUE(panel()->isVisible());
}

// The backdrop lies under the interface's drawing and follows every resize.
TEST_F(FloatingPanelTest, BackdropIsPinnedToTheContentViewsFourEdges) {
  launch();
  auto content = panel()->contentView();
  ASSERT_TRUE(content);
  EXPECT_EQ(content, host().viewController()->view());
  ASSERT_EQ(content->subviews().size(), 1u);
  auto backdrop = content->subviews()[0];
  const std::string backdropName = SimViewState::from(backdrop)->name();
  const std::string contentName = SimViewState::from(content)->name();
  EXPECT_EQ(SimViewState::from(content)->operations(),
            std::vector<std::string>{"addSubview:" + backdropName +
                                     " positioned:below relativeTo:" + contentName});
  EXPECT_EQ(SimViewState::from(backdrop)->operations(),
            (std::vector<std::string>{"setBlendingMode:behindWindow", "setState:active",
                                      "setMaterial:sidebar",
                                      "setTranslatesAutoresizingMaskIntoConstraints:false"}));

  const auto& batches = desktop.views().activationBatches();
  ASSERT_EQ(batches.size(), 1u);
  std::vector<LayoutEdge> edges;
  for (const auto& c : batches[0]) {
    EXPECT_EQ(c->firstView(), backdrop);
    EXPECT_EQ(c->secondView(), content);
    EXPECT_EQ(c->firstEdge(), c->secondEdge());
    edges.push_back(c->firstEdge());
  }
  EXPECT_EQ(edges, (std::vector<LayoutEdge>{LayoutEdge::top, LayoutEdge::bottom,
                                            LayoutEdge::leading, LayoutEdge::trailing}));
  EXPECT_TRUE(desktop.views().isPinnedToEdges(backdrop, content));

  panel()->userResize({820, 450});
  EXPECT_EQ(backdrop->frame().size, (CGSize{820, 450}));
}

TEST_F(FloatingPanelTest, WithoutAContentViewThePanelStillShowsWithoutBackdrop) {
  desktop.windows().setPanelsHaveNoContentView(true);
  launch();
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(desktop.views().activationBatches().empty());
  EXPECT_EQ(host().viewController()->backgroundColor(), Color::clearColor());
}

// A panel shrunk below 100 points either way comes back at the default size;
// one of exactly 100 by 100 keeps its size. Every show re-centres.
TEST_F(FloatingPanelTest, ShowingResetsOnlyAPanelShrunkBelowTheGuard) {
  launch();
  const auto area = desktop.windows().screen().visibleFrame;
  struct Case {
    CGSize userSize;
    CGSize shownSize;
  };
  for (const Case& c :
       {Case{{99, 400}, {600, 600}}, Case{{400, 99}, {600, 600}}, Case{{100, 100}, {100, 100}}}) {
    SCOPED_TRACE(testing::Message() << c.userSize.width << "x" << c.userSize.height);
    panel()->userResize(c.userSize);
    panel()->userMove({3, 700});
    const std::size_t mark = operations().size();
    EXPECT_EQ(desktop.application().reopen(), true);
    EXPECT_EQ(panel()->contentSize(), c.shownSize);
    const bool reset = c.shownSize.width == 600;
    EXPECT_EQ(operationsSince(mark),
              reset ? (std::vector<std::string>{"setContentSize:600x600", "center",
                                                "makeKeyAndOrderFront"})
                    : (std::vector<std::string>{"center", "makeKeyAndOrderFront"}));
    EXPECT_EQ(panel()->frame().origin,
              (platform::CGPoint{std::floor((area.size.width - c.shownSize.width) / 2),
                                 std::floor((area.size.height - c.shownSize.height) * 2 / 3)}));
  }
}

}  // namespace
}  // namespace lumivane
