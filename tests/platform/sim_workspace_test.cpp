#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::SimDesktopTest;

// Posts a whole chord (key down, key up) as the host does: flags set, not added.
void postChord(SimDesktop& desktop, CGKeyCode key, std::optional<pid_t> pid) {
  auto& keys = desktop.keyboardEvents();
  CGEventSourceRef source = keys.CGEventSourceCreate(CGEventSourceStateID::hidSystemState);
  for (bool down : {true, false}) {
    CGEventRef event = keys.CGEventCreateKeyboardEvent(source, key, down);
    keys.CGEventSetFlags(event, kCGEventFlagMaskCommand);
    if (pid) {
      keys.CGEventPostToPid(*pid, event);
    } else {
      keys.CGEventPost(CGEventTapLocation::hidEventTap, event);
    }
    keys.CFRelease(event);
  }
  keys.CFRelease(source);
}

class SimApplicationsTest : public SimDesktopTest {
 protected:
  void SetUp() override { desktop.accessibility().setTrusted(true); }
};

TEST_F(SimApplicationsTest, CopyLandsAfterTheApplicationsDelayNotBefore) {
  auto app = frontApp("Notes", 200, "hello");
  app->setCopyDelay(0.25);
  desktop.generalPasteboard().setString("user's own");
  desktop.advance(1);

  postChord(desktop, kVK_ANSI_C, 200);
  desktop.advance(0.249);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "user's own");
  desktop.advance(0.001);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "hello");
  EXPECT_EQ(app->copyTimes(), std::vector<double>{1.25});
  // The application took the pasteboard over: cleared it, then wrote.
  EXPECT_EQ(desktop.generalPasteboard().count(PasteboardOp::clearContents, "Notes"), 1u);
}

TEST_F(SimApplicationsTest, ApplicationsThatCopyNothingOrIgnoreChordsLeaveThePasteboard) {
  auto empty = frontApp("Empty", 202);
  empty->setCopyBehaviour(CopyBehaviour::nothing);
  auto deaf = desktop.addApplication(
      AppProfile{"Deaf", std::nullopt, 203, "text", 0.05, CopyBehaviour::text, /*reacts=*/false});
  desktop.generalPasteboard().setString("kept");
  const auto before = desktop.generalPasteboard().changeCount();
  postChord(desktop, kVK_ANSI_C, 202);
  postChord(desktop, kVK_ANSI_C, 203);
  desktop.advance(2);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "kept");
  EXPECT_EQ(desktop.generalPasteboard().changeCount(), before);
}

// Which application a paste reaches is the keyboard contract's; with nothing
// textual on the pasteboard it inserts nothing.
TEST_F(SimApplicationsTest, PasteWithoutTextInsertsNothing) {
  auto front = frontApp("Pages", 205);
  desktop.generalPasteboard().setContents({});
  postChord(desktop, kVK_ANSI_V, std::nullopt);
  desktop.runUntilIdle();
  ASSERT_EQ(front->insertions().size(), 1u);
  EXPECT_EQ(front->insertions()[0].text, std::nullopt);
}

TEST_F(SimApplicationsTest, EventsToQuitOrUnknownProcessesAreRecordedButDropped) {
  auto app = frontApp("Notes", 200);
  desktop.quit(app);
  EXPECT_EQ(desktop.workspace().frontmost(), nullptr);
  postChord(desktop, kVK_ANSI_C, 200);
  postChord(desktop, kVK_ANSI_C, 999);
  postChord(desktop, kVK_ANSI_V, std::nullopt);  // nothing is in front
  desktop.advance(1);

  const auto posted = desktop.keyboardEvents().posted();
  ASSERT_EQ(posted.size(), 6u);
  for (const auto& event : posted) {
    EXPECT_EQ(event.deliveredTo, std::nullopt);
  }
  EXPECT_TRUE(app->copyTimes().empty());
  EXPECT_FALSE(app->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
}

TEST_F(SimApplicationsTest, QuittingDuringTheCopyDelayCancelsTheCopy) {
  auto app = frontApp("Slow", 206);
  app->setCopyDelay(0.5);
  postChord(desktop, kVK_ANSI_C, 206);
  desktop.advance(0.2);
  desktop.quit(app);
  desktop.advance(1);
  EXPECT_TRUE(app->copyTimes().empty());
}

TEST_F(SimApplicationsTest, HeldShiftTurnsTheChordIntoAnotherCommand) {
  auto app = frontApp("Notes", 200, "hello");
  desktop.keyboardEvents().setHeldModifiers(kCGEventFlagMaskShift);
  auto& keys = desktop.keyboardEvents();
  CGEventRef down = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  // Adding Command to what the event came with keeps the user's Shift.
  keys.CGEventSetFlags(down, keys.CGEventGetFlags(down) | kCGEventFlagMaskCommand);
  keys.CGEventPostToPid(200, down);
  keys.CFRelease(down);
  desktop.advance(1);
  EXPECT_TRUE(app->copyTimes().empty());
}

TEST_F(SimApplicationsTest, UntrustedHostsEventsNeverArrive) {
  auto app = frontApp("Notes", 200, "hello");
  desktop.accessibility().setTrusted(false);
  postChord(desktop, kVK_ANSI_C, 200);
  desktop.advance(1);
  EXPECT_TRUE(app->copyTimes().empty());
  EXPECT_EQ(desktop.keyboardEvents().posted().size(), 2u);
}

// Activation is announced on the main thread as a task of its own, once per
// change of the active application.
TEST_F(SimApplicationsTest, ActivationNotificationsArriveLaterOnMainAndOnlyOnChange) {
  std::vector<std::string> seen;
  desktop.workspace().notificationCenter().addObserver(
      NSWorkspaceDidActivateApplicationNotification, [&](const Notification& n) {
        auto app = std::dynamic_pointer_cast<SimRunningApplication>(
            std::get<std::shared_ptr<RunningApplication>>(
                n.userInfo->at(NSWorkspaceApplicationKey)));
        seen.push_back(app ? app->localizedName() : "?");
      });
  auto notes = desktop.addApplication(AppProfile{"Notes", "com.apple.Notes", 200});
  desktop.bringToFront(notes);
  EXPECT_TRUE(seen.empty());
  desktop.runUntilIdle();
  EXPECT_EQ(seen, std::vector<std::string>{"Notes"});

  desktop.bringToFront(notes);
  desktop.application().activateIgnoringOtherApps(true);
  desktop.application().activateIgnoringOtherApps(true);
  EXPECT_TRUE(notes->activateWithOptions(0));
  desktop.runUntilIdle();
  EXPECT_EQ(seen, (std::vector<std::string>{"Notes", kHostName, "Notes"}));
  EXPECT_EQ(notes->activationRequests(), std::vector<std::uint32_t>{0});
  EXPECT_FALSE(desktop.application().isActive());
}

}  // namespace
}  // namespace lumivane::platform::sim
