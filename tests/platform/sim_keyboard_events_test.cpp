#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::platform::sim {
namespace {

using test_support::SimDesktopTest;

class SimKeyboardEventsTest : public SimDesktopTest {
 protected:
  SimKeyboardEvents& keys = desktop.keyboardEvents();
};

TEST_F(SimKeyboardEventsTest, NewEventsCarryTheModifiersTheUserHolds) {
  keys.setHeldModifiers(kCGEventFlagMaskShift | kCGEventFlagMaskAlternate);
  CGEventSourceRef hid = keys.CGEventSourceCreate(CGEventSourceStateID::hidSystemState);
  CGEventSourceRef own = keys.CGEventSourceCreate(CGEventSourceStateID::privateState);
  CGEventRef fromHid = keys.CGEventCreateKeyboardEvent(hid, kVK_ANSI_C, true);
  CGEventRef fromNone = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  CGEventRef fromOwn = keys.CGEventCreateKeyboardEvent(own, kVK_ANSI_C, true);
  EXPECT_EQ(keys.CGEventGetFlags(fromHid), kCGEventFlagMaskShift | kCGEventFlagMaskAlternate);
  EXPECT_EQ(keys.CGEventGetFlags(fromNone), kCGEventFlagMaskShift | kCGEventFlagMaskAlternate);
  // A private source keeps its own modifier state, which starts empty.
  EXPECT_EQ(keys.CGEventGetFlags(fromOwn), 0u);
  keys.CGEventSetFlags(fromHid, kCGEventFlagMaskCommand);
  EXPECT_EQ(keys.CGEventGetFlags(fromHid), kCGEventFlagMaskCommand);
  for (CGEventRef e : {fromHid, fromNone, fromOwn}) {
    keys.CFRelease(e);
  }
  keys.CFRelease(hid);
  keys.CFRelease(own);
}

// A leak shows in the live counts; a second release or a foreign handle is
// recorded rather than crashing the test run.
TEST_F(SimKeyboardEventsTest, HandleMisuseIsRecordedNotFatal) {
  skipTeardownChecks();
  CGEventRef leaked = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, true);
  EXPECT_EQ(desktop.liveObjects().events, 1u);

  CGEventRef event = keys.CGEventCreateKeyboardEvent(nullptr, kVK_ANSI_C, false);
  keys.CFRelease(event);
  keys.CFRelease(event);
  keys.CGEventPost(CGEventTapLocation::hidEventTap, event);
  int notAnEvent = 0;
  keys.CFRelease(reinterpret_cast<CGEventRef>(&notAnEvent));
  keys.CFRelease(static_cast<CGEventRef>(nullptr));

  EXPECT_EQ(desktop.misuse(), (std::vector<std::string>{"CFRelease of a released event",
                                                        "CGEventPost on a released event",
                                                        "CFRelease of an unknown event"}));
  EXPECT_TRUE(keys.posted().empty());
  keys.CFRelease(leaked);
  EXPECT_TRUE(desktop.liveObjects().none());
}

}  // namespace
}  // namespace lumivane::platform::sim
