#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::FunctionResponder;
using test_support::RecordingDelegate;
using test_support::SimDesktopTest;

class SimStatusBarTest : public SimDesktopTest {
 protected:
  void SetUp() override {
    desktop.application().setDelegate(delegate);
    item = desktop.statusBar().statusItemWithLength(NSSquareStatusItemLength);
    item->button()->setAction("clicked");
    item->button()->setTarget(responder);
  }
  void TearDown() override {
    item.reset();
    SimDesktopTest::TearDown();
  }

  // What the button's target saw: the current event at each action.
  std::vector<std::optional<Event>> seen;
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>();
  std::shared_ptr<FunctionResponder> responder = std::make_shared<FunctionResponder>(
      std::set<std::string>{"clicked"},
      [this](const std::string&) { seen.push_back(desktop.application().currentEvent()); });
  std::shared_ptr<StatusItem> item;
};

TEST_F(SimStatusBarTest, ClicksSendTheActionOnlyForEventsInTheMaskAndLater) {
  ASSERT_TRUE(desktop.statusBar().clickStatusItem(EventType::rightMouseUp));
  ASSERT_TRUE(
      desktop.statusBar().clickStatusItem(EventType::leftMouseUp, NSEventModifierFlagOption));
  EXPECT_TRUE(seen.empty());
  desktop.runUntilIdle();
  // A button sends on left-button releases until told otherwise.
  ASSERT_EQ(seen.size(), 1u);
  ASSERT_TRUE(seen[0].has_value());
  EXPECT_EQ(seen[0]->type, EventType::leftMouseUp);
  EXPECT_EQ(seen[0]->modifierFlags, NSEventModifierFlagOption);
  EXPECT_EQ(desktop.application().currentEvent(), std::nullopt);

  item->button()->sendActionOn(NSEventMaskLeftMouseUp | NSEventMaskRightMouseUp);
  desktop.statusBar().clickStatusItem(EventType::rightMouseUp);
  desktop.runUntilIdle();
  ASSERT_EQ(seen.size(), 2u);
  EXPECT_EQ(seen[1]->type, EventType::rightMouseUp);
}

TEST_F(SimStatusBarTest, AMenuLeftAttachedKeepsOpeningOnEveryClick) {
  auto& bar = desktop.statusBar();
  auto menu = bar.makeMenu();
  item->setMenu(menu);
  bar.clickStatusItem(EventType::leftMouseUp);
  desktop.runUntilIdle();
  EXPECT_EQ(bar.menuOpenings().size(), 1u);
  EXPECT_TRUE(seen.empty());
  EXPECT_EQ(desktop.liveObjects().menus, 1u);
  item->setMenu(nullptr);
  menu.reset();
  bar.clickStatusItem(EventType::leftMouseUp);
  desktop.runUntilIdle();
  EXPECT_EQ(seen.size(), 1u);
}

TEST_F(SimStatusBarTest, ItemsWithoutButtonsAndMissingSymbols) {
  auto& bar = desktop.statusBar();
  EXPECT_NE(bar.imageWithSystemSymbolName("textbox", "Lumivane"), nullptr);
  bar.removeSymbol("textbox");
  EXPECT_EQ(bar.imageWithSystemSymbolName("textbox", "Lumivane"), nullptr);

  bar.setItemsHaveNoButton(true);
  auto bare = bar.statusItemWithLength(NSSquareStatusItemLength);
  EXPECT_EQ(bare->button(), nullptr);
  EXPECT_FALSE(bar.clickStatusItem(EventType::leftMouseUp));
  // An item stays in the menu bar only while somebody holds it.
  EXPECT_EQ(bar.statusItems().size(), 2u);
  bare.reset();
  item.reset();
  EXPECT_TRUE(bar.statusItems().empty());
}

}  // namespace
}  // namespace lumivane::platform::sim
