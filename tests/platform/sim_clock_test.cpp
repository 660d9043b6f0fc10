#include "platform/sim/sim_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <functional>
#include <string>

namespace lumivane::platform::sim {
namespace {

// Order, delays, sleeps and threads are the dispatch contract's; these are
// the virtual clock's own promises.

// The host's tests see overlapping captures in the peak count and replay a
// failing schedule from its seed: workers that sleep interleave by virtual
// time, the same way every run, and are counted while they overlap.
TEST(SimClockTest, OverlappingWorkersInterleaveDeterministically) {
  for (int run = 0; run < 20; ++run) {
    SimClock clock;
    std::string trace;
    for (char name : std::string("ab")) {
      clock.globalQueue(QoSClass::userInitiated).async([&, name] {
        for (int i = 0; i < 3; ++i) {
          trace += name;
          clock.sleepForTimeInterval(name == 'a' ? 0.1 : 0.25);
        }
      });
    }
    EXPECT_TRUE(clock.advanceUntilEmpty());
    EXPECT_EQ(trace, "abaabb");
    EXPECT_EQ(clock.peakWorkerBlocks(), 2u);
  }
}

TEST(SimClockTest, DestructionFinishesSleepingWorkersAndDropsTheRest) {
  std::atomic<int> finished{0};
  bool mainRan = false;
  {
    SimClock clock;
    clock.globalQueue(QoSClass::userInitiated).async([&] {
      clock.sleepForTimeInterval(5);
      clock.mainQueue().async([&] { mainRan = true; });
      ++finished;
    });
    clock.advance(1);
  }
  EXPECT_EQ(finished, 1);
  EXPECT_FALSE(mainRan);
}

TEST(SimClockTest, AdvanceUntilEmptyStopsAtLimitForEndlessWork) {
  SimClock clock;
  std::function<void()> again = [&] { clock.mainQueue().asyncAfter(1, again); };
  clock.mainQueue().async(again);
  EXPECT_FALSE(clock.advanceUntilEmpty(10));
  EXPECT_NEAR(clock.now(), 10, 1e-9);
}

}  // namespace
}  // namespace lumivane::platform::sim
