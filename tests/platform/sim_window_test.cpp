#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::RecordingDelegate;
using test_support::SimDesktopTest;

constexpr std::uint64_t kPanelStyle = NSWindowStyleMaskTitled | NSWindowStyleMaskClosable |
                                      NSWindowStyleMaskResizable |
                                      NSWindowStyleMaskFullSizeContentView;

class SimWindowTest : public SimDesktopTest {
 protected:
  std::shared_ptr<Panel> makePanel(std::uint64_t style = kPanelStyle) {
    return desktop.windows().makePanel(CGRectMake(0, 0, 600, 600), style,
                                       BackingStoreType::buffered, false);
  }
};

// What the host sets is what a user sees of the window.
TEST_F(SimWindowTest, SettingsShowAsWhatTheUserSees) {
  auto panel = makePanel();
  auto* sim = SimWindowState::from(panel);
  EXPECT_FALSE(sim->floatsAboveOrdinaryWindows());
  EXPECT_FALSE(sim->isOnEverySpace());
  panel->setLevel(NSFloatingWindowLevel);
  panel->setCollectionBehavior(NSWindowCollectionBehaviorCanJoinAllSpaces);
  panel->setTitleVisibility(WindowTitleVisibility::hidden);
  EXPECT_TRUE(sim->floatsAboveOrdinaryWindows());
  EXPECT_TRUE(sim->isOnEverySpace());
  EXPECT_FALSE(sim->showsBesideFullScreenApplications());
  EXPECT_FALSE(sim->showsTitle());
  EXPECT_TRUE(sim->activatesApplication());
  auto nonactivating = makePanel(kPanelStyle | NSWindowStyleMaskNonactivatingPanel);
  EXPECT_FALSE(SimWindowState::from(nonactivating)->activatesApplication());
}

TEST_F(SimWindowTest, TitleBarAddsToTheFrameUnlessContentIsFullSize) {
  auto fullSize = makePanel();
  EXPECT_EQ(fullSize->frame(), CGRectMake(0, 0, 600, 600));
  auto titled = desktop.windows().makeWindow(CGRectMake(10, 20, 400, 300), NSWindowStyleMaskTitled,
                                             BackingStoreType::buffered, false);
  EXPECT_EQ(titled->frame(), CGRectMake(10, 20, 400, 328));
  EXPECT_EQ(SimWindowState::from(titled)->currentContentSize(), (CGSize{400, 300}));
  // A new content size keeps the top-left corner where it was.
  titled->setContentSize(CGSize{200, 100});
  EXPECT_EQ(titled->frame(), CGRectMake(10, 220, 200, 128));
}

TEST_F(SimWindowTest, CenterIsHorizontalMiddleAndAThirdOfTheSpareHeightAbove) {
  auto panel = makePanel();
  SimWindowState::from(panel)->userMove(CGPoint{5, 5});
  panel->center();
  // Usable area 1440 x 876: (1440 - 600) / 2 = 420; (876 - 600) * 2 / 3 = 184.
  EXPECT_EQ(panel->frame(), CGRectMake(420, 184, 600, 600));
}

TEST_F(SimWindowTest, OnlyOneWindowIsKeyAndHidingGivesKeyUp) {
  auto a = makePanel();
  auto b = makePanel();
  a->makeKeyAndOrderFront();
  b->makeKeyAndOrderFront();
  EXPECT_FALSE(SimWindowState::from(a)->key());
  EXPECT_TRUE(SimWindowState::from(b)->key());
  EXPECT_TRUE(a->isVisible());
  b->orderOut();
  EXPECT_FALSE(SimWindowState::from(b)->key());
  EXPECT_FALSE(b->isVisible());
  // A borderless window comes to the front but cannot take the keyboard.
  auto borderless = makePanel(NSWindowStyleMaskBorderless);
  borderless->makeKeyAndOrderFront();
  EXPECT_TRUE(borderless->isVisible());
  EXPECT_FALSE(SimWindowState::from(borderless)->key());
}

// The backdrop the host pins into the content view follows the window's
// content through every resize; the content controller's view sizes the window.
TEST_F(SimWindowTest, ContentAndPinnedViewsFollowTheWindow) {
  auto panel = makePanel();
  auto content = desktop.views().makeView();
  panel->setContentViewController(std::make_shared<SimViewController>(content));
  EXPECT_EQ(SimWindowState::from(panel)->currentContentSize(), (CGSize{0, 0}));
  panel->setContentSize(CGSize{600, 600});
  ASSERT_EQ(panel->contentView(), content);

  auto backdrop = desktop.views().makeVisualEffectView();
  content->addSubview(backdrop, WindowOrderingMode::below, content);
  backdrop->setTranslatesAutoresizingMaskIntoConstraints(false);
  desktop.views().activateConstraints(
      {backdrop->topAnchor()->constraintEqualToAnchor(content->topAnchor()),
       backdrop->bottomAnchor()->constraintEqualToAnchor(content->bottomAnchor()),
       backdrop->leadingAnchor()->constraintEqualToAnchor(content->leadingAnchor()),
       backdrop->trailingAnchor()->constraintEqualToAnchor(content->trailingAnchor())});
  EXPECT_TRUE(desktop.views().isPinnedToEdges(backdrop, content));
  ASSERT_EQ(desktop.views().activationBatches().size(), 1u);
  EXPECT_EQ(desktop.views().activationBatches()[0].size(), 4u);

  SimWindowState::from(panel)->userResize(CGSize{800, 500});
  EXPECT_EQ(SimViewState::from(backdrop)->frame(), CGRectMake(0, 0, 800, 500));
  EXPECT_EQ(SimViewState::from(backdrop)->superview(), content);
}

TEST_F(SimWindowTest, ConstraintsAreNotPinsWhileTheMaskStillTranslatesOrAnEdgeIsMissing) {
  auto parent = desktop.views().makeView();
  auto child = desktop.views().makeView();
  parent->addSubview(child, WindowOrderingMode::above, nullptr);
  desktop.views().activateConstraints(
      {child->topAnchor()->constraintEqualToAnchor(parent->topAnchor()),
       child->bottomAnchor()->constraintEqualToAnchor(parent->bottomAnchor()),
       child->leadingAnchor()->constraintEqualToAnchor(parent->leadingAnchor()),
       child->trailingAnchor()->constraintEqualToAnchor(parent->trailingAnchor())});
  EXPECT_FALSE(desktop.views().isPinnedToEdges(child, parent));

  auto other = desktop.views().makeView();
  parent->addSubview(other, WindowOrderingMode::below, child);
  EXPECT_EQ(SimViewState::from(parent)->subviews(),
            (std::vector<std::shared_ptr<View>>{other, child}));
  other->setTranslatesAutoresizingMaskIntoConstraints(false);
  desktop.views().activateConstraints(
      {other->topAnchor()->constraintEqualToAnchor(parent->topAnchor()),
       other->bottomAnchor()->constraintEqualToAnchor(parent->bottomAnchor()),
       other->leadingAnchor()->constraintEqualToAnchor(parent->trailingAnchor())});
  EXPECT_FALSE(desktop.views().isPinnedToEdges(other, parent));
}

TEST_F(SimWindowTest, ConstraintsAcrossHierarchiesAreMisuse) {
  skipTeardownChecks();
  auto a = desktop.views().makeView();
  auto b = desktop.views().makeView();
  desktop.views().activateConstraints({a->topAnchor()->constraintEqualToAnchor(b->topAnchor())});
  ASSERT_EQ(desktop.misuse().size(), 1u);
}

TEST_F(SimWindowTest, PanelsCanBeMadeWithoutAContentView) {
  desktop.windows().setPanelsHaveNoContentView(true);
  auto panel = makePanel();
  panel->setContentViewController(std::make_shared<SimViewController>(desktop.views().makeView()));
  EXPECT_EQ(panel->contentView(), nullptr);
}

TEST_F(SimWindowTest, CloseButtonHidesAndAsksTheDelegateAboutTheLastWindow) {
  auto delegate = std::make_shared<RecordingDelegate>();
  desktop.application().setDelegate(delegate);
  auto panel = makePanel();
  panel->makeKeyAndOrderFront();
  ASSERT_TRUE(SimWindowState::from(panel)->userClickCloseButton());
  EXPECT_FALSE(panel->isVisible());
  EXPECT_FALSE(desktop.application().isTerminating());
  EXPECT_FALSE(SimWindowState::from(panel)->userClickCloseButton());

  delegate->terminateAfterLastWindowClosed = true;
  panel->makeKeyAndOrderFront();
  SimWindowState::from(panel)->userClickCloseButton();
  EXPECT_TRUE(desktop.application().isTerminating());
}

TEST_F(SimWindowTest, WindowsThatHideOnDeactivationComeBackOnActivation) {
  auto hiding = makePanel();
  hiding->setHidesOnDeactivate(true);
  auto staying = makePanel();
  hiding->orderFront();
  staying->orderFront();
  desktop.application().activateIgnoringOtherApps(true);
  auto notes = desktop.addApplication(AppProfile{"Notes", "com.apple.Notes", 200});
  desktop.bringToFront(notes);
  EXPECT_FALSE(hiding->isVisible());
  EXPECT_TRUE(staying->isVisible());
  desktop.application().activateIgnoringOtherApps(true);
  EXPECT_TRUE(hiding->isVisible());
}

TEST_F(SimWindowTest, DragsMoveOnlyFromAMouseDown) {
  auto panel = makePanel();
  panel->orderFront();
  auto* sim = SimWindowState::from(panel);
  sim->setDragOffset(CGPoint{30, -10});
  panel->performWindowDragWithEvent(Event{EventType::keyDown, 0, {}, 0});
  EXPECT_EQ(panel->frame().origin, (CGPoint{0, 0}));
  panel->performWindowDragWithEvent(Event{EventType::leftMouseDown, 0, {}, 0});
  EXPECT_EQ(panel->frame().origin, (CGPoint{30, -10}));
  ASSERT_EQ(sim->drags().size(), 2u);
  EXPECT_FALSE(sim->drags()[0].moved);
}

}  // namespace
}  // namespace lumivane::platform::sim
