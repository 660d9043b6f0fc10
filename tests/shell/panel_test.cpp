#include <gtest/gtest.h>

#include <cmath>
#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::CGSize;
using platform::Color;
using platform::sim::SimViewState;
using platform::sim::SimVisualEffectView;
using test_support::HostTest;

using FloatingPanelTest = HostTest;

// What the user sees after launch: the interface in a borderless-looking
// floating panel, in front of every ordinary window, on every space, centred
// and taking the keyboard.
TEST_F(FloatingPanelTest, ShowsTheInterfaceInACentredKeyPanelAboveOrdinaryWindows) {
  launch();
  auto p = panel();
  EXPECT_TRUE(p->visible());
  EXPECT_TRUE(p->key());
  EXPECT_TRUE(desktop.application().isActive());
  EXPECT_EQ(p->currentContentSize(), (CGSize{600, 600}));
  EXPECT_TRUE(p->isCentered());
  EXPECT_TRUE(p->floatsAboveOrdinaryWindows());
  EXPECT_TRUE(p->isFloatingPanel());
  EXPECT_TRUE(p->isOnEverySpace());
  EXPECT_TRUE(p->showsBesideFullScreenApplications());
  EXPECT_TRUE(p->isTransient());
  EXPECT_TRUE(p->activatesApplication());
  EXPECT_FALSE(p->canMiniaturize());
  // The title names the window for the system, but the title bar shows no
  // text and no separator; the interface draws up to the top edge.
  EXPECT_EQ(p->title(), "Lumivane");
  EXPECT_FALSE(p->showsTitle());
  EXPECT_TRUE(p->titlebarIsTransparent());
  EXPECT_FALSE(p->showsTitlebarSeparator());
  EXPECT_FALSE(p->isOpaque());
  EXPECT_EQ(p->backgroundColor(), Color::clearColor());
  EXPECT_TRUE(p->castsShadow());
  EXPECT_FALSE(p->movesByBackground());
  EXPECT_EQ(p->contentView(), host().viewController()->view());
  EXPECT_EQ(host().viewController()->backgroundColor(), Color::clearColor());
  // Deactivation leaves it on screen.
  EXPECT_TRUE(p->staysUpWhenDeactivated());
  desktop.bringToFront(editor);
  desktop.runUntilIdle();
  EXPECT_TRUE(p->visible());
}

// The backdrop lies under the interface's drawing and follows every resize.
TEST_F(FloatingPanelTest, BackdropIsPinnedToTheContentViewsFourEdges) {
  launch();
  auto content = panel()->contentView();
  ASSERT_TRUE(content);
  const auto* contentState = SimViewState::from(content);
  ASSERT_EQ(contentState->subviews().size(), 1u);
  auto backdrop = std::dynamic_pointer_cast<SimVisualEffectView>(contentState->subviews()[0]);
  ASSERT_TRUE(backdrop);
  EXPECT_EQ(backdrop->blendingMode(), platform::VisualEffectBlendingMode::behindWindow);
  EXPECT_EQ(backdrop->state(), platform::VisualEffectState::active);
  EXPECT_EQ(backdrop->material(), platform::VisualEffectMaterial::sidebar);
  EXPECT_TRUE(desktop.views().isPinnedToEdges(backdrop, content));
  EXPECT_EQ(backdrop->frame().size, (CGSize{600, 600}));

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
    EXPECT_EQ(desktop.application().reopen(), true);
    EXPECT_EQ(panel()->currentContentSize(), c.shownSize);
    EXPECT_TRUE(panel()->visible());
    EXPECT_TRUE(panel()->key());
    EXPECT_EQ(panel()->frame().origin,
              (platform::CGPoint{std::floor((area.size.width - c.shownSize.width) / 2),
                                 std::floor((area.size.height - c.shownSize.height) * 2 / 3)}));
  }
}

}  // namespace
}  // namespace lumivane
