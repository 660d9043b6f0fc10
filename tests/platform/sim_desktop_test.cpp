#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::FunctionResponder;
using test_support::RecordingDelegate;

// What the host's tests rely on the simulated desktop to model; the rest of
// its behaviour shows in those tests and in the contract suites.
using SimDesktopModelTest = test_support::SimDesktopTest;

// Every host test's teardown rests on these: what the real platform would not
// survive is recorded rather than crashing the run, and what is still held is
// counted until it is released.
TEST_F(SimDesktopModelTest, MisuseIsRecordedAndHeldObjectsAreCounted) {
  skipTeardownChecks();
  auto& keys = desktop.keyboardEvents();
  CGEventRef leaked = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  CGEventRef event = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, false);
  keys.CFRelease(event);
  keys.CFRelease(event);
  keys.CGEventPost(CGEventTapLocation::hidEventTap, event);
  desktop.generalPasteboard().setString("x");
  auto items = desktop.generalPasteboard().pasteboardItems();
  desktop.dispatch().globalQueue(QoSClass::userInitiated).async([&] {
    desktop.workspace().frontmostApplication();
    desktop.generalPasteboard().stringForType(NSPasteboardTypeString);  // any thread
  });
  desktop.runUntilIdle();
  desktop.loginItems().setOperatingSystemVersion({12, 7, 1});
  desktop.loginItems().mainAppService();
  auto a = desktop.views().makeView();
  auto b = desktop.views().makeView();
  desktop.views().activateConstraints({a->topAnchor()->constraintEqualToAnchor(b->topAnchor())});

  EXPECT_EQ(
      desktop.misuse(),
      (std::vector<std::string>{"CFRelease of a released event", "CGEventPost on a released event",
                                "NSWorkspace frontmostApplication called off the main thread",
                                "SMAppService used on a system older than macOS 13.0",
                                "activateConstraints: views without a common ancestor"}));
  EXPECT_TRUE(keys.posted().empty());
  EXPECT_EQ(desktop.liveObjects().events, 1u);
  EXPECT_EQ(desktop.liveObjects().pasteboardItems, 1u);
  keys.CFRelease(leaked);
  items.reset();
  EXPECT_TRUE(desktop.liveObjects().none());
}

// A modifier the user holds joins an event made from the hardware's state,
// and Shift turns Command+C into another command: adding Command to what the
// event came with is not a copy.
TEST_F(SimDesktopModelTest, HeldShiftTurnsTheCopyChordIntoAnotherCommand) {
  desktop.accessibility().setTrusted(true);
  auto app = frontApp("Notes", 200, "hello");
  auto& keys = desktop.keyboardEvents();
  keys.setHeldModifiers(kCGEventFlagMaskShift);
  CGEventRef down = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  keys.CGEventSetFlags(down, keys.CGEventGetFlags(down) | kCGEventFlagMaskCommand);
  keys.CGEventPostToPid(200, down);
  keys.CFRelease(down);
  desktop.advance(1);
  EXPECT_TRUE(app->copyTimes().empty());
}

// The status item's right click reaches the host only because it asks for
// right-button releases too: a button sends on left-button releases until
// told otherwise.
TEST_F(SimDesktopModelTest, AStatusItemButtonSendsOnlyForEventsInItsMask) {
  std::vector<EventType> seen;
  auto responder = std::make_shared<FunctionResponder>(
      std::set<std::string>{"clicked"},
      [&](const std::string&) { seen.push_back(desktop.application().currentEvent()->type); });
  auto item = desktop.statusBar().statusItemWithLength(NSSquareStatusItemLength);
  item->button()->setAction("clicked");
  item->button()->setTarget(responder);
  desktop.statusBar().clickStatusItem(EventType::rightMouseUp);
  desktop.statusBar().clickStatusItem(EventType::leftMouseUp);
  desktop.runUntilIdle();
  item->button()->sendActionOn(NSEventMaskLeftMouseUp | NSEventMaskRightMouseUp);
  desktop.statusBar().clickStatusItem(EventType::rightMouseUp);
  desktop.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<EventType>{EventType::leftMouseUp, EventType::rightMouseUp}));
}

// The panel's backdrop follows the window only when all four of its edges
// are pinned and its autoresizing mask no longer makes constraints of its own.
TEST_F(SimDesktopModelTest, AViewIsPinnedOnlyByItsFourEdgesWithoutItsAutoresizingMask) {
  auto& views = desktop.views();
  auto parent = views.makeView();
  auto child = views.makeView();
  parent->addSubview(child, WindowOrderingMode::above, nullptr);
  child->setTranslatesAutoresizingMaskIntoConstraints(false);
  views.activateConstraints(
      {child->topAnchor()->constraintEqualToAnchor(parent->topAnchor()),
       child->bottomAnchor()->constraintEqualToAnchor(parent->bottomAnchor()),
       child->leadingAnchor()->constraintEqualToAnchor(parent->leadingAnchor()),
       child->trailingAnchor()->constraintEqualToAnchor(parent->leadingAnchor())});
  EXPECT_FALSE(views.isPinnedToEdges(child, parent));
  views.activateConstraints(
      {child->trailingAnchor()->constraintEqualToAnchor(parent->trailingAnchor())});
  EXPECT_TRUE(views.isPinnedToEdges(child, parent));
  child->setTranslatesAutoresizingMaskIntoConstraints(true);
  EXPECT_FALSE(views.isPinnedToEdges(child, parent));
}

// What a headless run describes of a large pasteboard: its first items and
// types, with how many there are of each.
TEST_F(SimDesktopModelTest, APasteboardExcerptIsItsStartWithTheSizes) {
  auto& pasteboard = desktop.generalPasteboard();
  const SimPasteboardEntry a{"a", Bytes{1}};
  const SimPasteboardEntry b = SimPasteboardEntry::unreadable("b");
  pasteboard.setContents({{a, b, {"c", Bytes{3}}}, {}, {SimPasteboardEntry::text("x")}});
  const auto excerpt = pasteboard.excerpt(2, 2);
  EXPECT_EQ(excerpt.itemCount, 3u);
  EXPECT_EQ(excerpt.items, (std::vector<SimPasteboardItemContents>{{a, b}, {}}));
  EXPECT_EQ(excerpt.typeCounts, (std::vector<std::size_t>{3, 0}));
  EXPECT_EQ(pasteboard.excerpt(10, 10).items, pasteboard.contents());
}

// Closing the last window asks the delegate whether the application ends.
TEST_F(SimDesktopModelTest, ClosingTheLastWindowAsksTheDelegate) {
  auto delegate = std::make_shared<RecordingDelegate>();
  desktop.application().setDelegate(delegate);
  auto panel = desktop.windows().makePanel(CGRectMake(0, 0, 600, 600),
                                           NSWindowStyleMaskTitled | NSWindowStyleMaskClosable,
                                           BackingStoreType::buffered, false);
  auto* state = SimWindowState::from(panel);
  panel->makeKeyAndOrderFront();
  ASSERT_TRUE(state->userClickCloseButton());
  EXPECT_FALSE(desktop.application().isTerminating());
  delegate->terminateAfterLastWindowClosed = true;
  panel->makeKeyAndOrderFront();
  state->userClickCloseButton();
  EXPECT_TRUE(desktop.application().isTerminating());
}

}  // namespace
}  // namespace lumivane::platform::sim
