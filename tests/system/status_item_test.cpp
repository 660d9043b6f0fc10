#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using platform::EventType;
using platform::sim::MenuEntry;
using platform::sim::SimImage;
using platform::sim::SimStatusItem;
using test_support::HostTest;

class StatusItemTest : public HostTest {
 protected:
  std::shared_ptr<SimStatusItem> item() {
    auto items = desktop.statusBar().statusItems();
    EXPECT_EQ(items.size(), 1u);
    return items.empty() ? nullptr : items.back();
  }
  // The user releases a mouse button over the item; any capture runs to its end.
  void click(EventType type, std::uint64_t modifierFlags = 0) {
    ASSERT_TRUE(desktop.statusBar().clickStatusItem(type, modifierFlags));
    desktop.advance(1.5);
  }
  const std::vector<platform::sim::MenuOpening>& menus() {
    return desktop.statusBar().menuOpenings();
  }
};

TEST_F(StatusItemTest, IsASquareTemplateSymbol) {
  launch();
  ASSERT_TRUE(item());
  EXPECT_EQ(item()->length(), platform::NSSquareStatusItemLength);
  auto image = std::dynamic_pointer_cast<SimImage>(item()->simButton()->image());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->symbolName(), "textbox");
  EXPECT_TRUE(image->isTemplate());
  EXPECT_EQ(image->accessibilityDescription(), "Lumivane");
}

TEST_F(StatusItemTest, WithoutTheSymbolShowsTAndStillCaptures) {
  desktop.statusBar().removeSymbol("textbox");
  launch();
  auto button = item()->simButton();
  EXPECT_FALSE(button->image());
  EXPECT_EQ(button->title(), "T");
  panel()->userClickCloseButton();
  click(EventType::leftMouseUp);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
}

// Left click hides a visible panel without touching the clipboard, and
// captures when the panel is hidden, however it was hidden.
TEST_F(StatusItemTest, LeftClickTogglesThePanel) {
  desktop.generalPasteboard().setString("user's clipboard");
  launch();
  click(EventType::leftMouseUp);
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(selectionUpdates().empty());

  click(EventType::leftMouseUp);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});

  panel()->userClickCloseButton();
  click(EventType::leftMouseUp);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(selectionUpdates().size(), 2u);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "user's clipboard");
  EXPECT_TRUE(menus().empty());
}

TEST_F(StatusItemTest, ModifierKeysNeverTurnALeftClickIntoTheMenu) {
  launch();
  for (std::uint64_t flags :
       {platform::NSEventModifierFlagControl, platform::NSEventModifierFlagCommand,
        platform::NSEventModifierFlagOption, platform::NSEventModifierFlagShift}) {
    SCOPED_TRACE(flags);
    ASSERT_TRUE(panel()->isVisible());
    click(EventType::leftMouseUp, flags);
    EXPECT_FALSE(panel()->isVisible());
    desktop.application().reopen();
  }
  EXPECT_TRUE(menus().empty());
}

TEST_F(StatusItemTest, AnActionWithoutACurrentEventIsALeftClick) {
  launch();
  item()->button()->performClick();
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(menus().empty());
}

// The menu is attached only while open, so the next left click toggles the
// panel again instead of reopening it.
TEST_F(StatusItemTest, RightClickOpensTheQuitMenuAndLeavesThePanelAlone) {
  launch();
  const auto panelFrame = panel()->currentFrame();
  click(EventType::rightMouseUp);
  ASSERT_EQ(menus().size(), 1u);
  EXPECT_EQ(menus()[0].entries, (std::vector<MenuEntry>{{"Quit", "q", "terminate:"}}));
  EXPECT_EQ(panel()->currentFrame(), panelFrame);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(panel()->key());
  EXPECT_FALSE(item()->menu());
  EXPECT_FALSE(desktop.application().isTerminating());

  click(EventType::leftMouseUp);
  EXPECT_FALSE(panel()->isVisible());
  click(EventType::rightMouseUp);
  EXPECT_EQ(menus().size(), 2u);
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_TRUE(postedChords().empty());
}

TEST_F(StatusItemTest, ChoosingQuitTerminatesTheApplication) {
  launch();
  desktop.statusBar().chooseMenuItem("Quit");
  click(EventType::rightMouseUp);
  EXPECT_TRUE(desktop.application().isTerminating());
  EXPECT_FALSE(item()->menu());
}

TEST_F(StatusItemTest, AnItemWithoutAButtonDoesNotStopStartUp) {
  desktop.statusBar().setItemsHaveNoButton(true);
  launch();
  ASSERT_TRUE(item());
  EXPECT_FALSE(item()->button());
  EXPECT_FALSE(desktop.statusBar().clickStatusItem(EventType::leftMouseUp));
  EXPECT_TRUE(host().hasHotKey());
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(desktop.flutter().launchNotifications().size(), 1u);
  // With no button there is nothing to open a menu under.
  host().showStatusBarMenu();
  EXPECT_TRUE(menus().empty());
}

}  // namespace
}  // namespace lumivane
