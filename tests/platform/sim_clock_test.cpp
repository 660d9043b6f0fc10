#include "platform/sim/sim_clock.h"

#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

namespace lumivane::platform::sim {
namespace {

// Order, delays and threads on the main queue are the dispatch contract's;
// these are the virtual clock's own promises.

// A global-queue block runs on another thread; its sleeps pass in virtual
// time, and what it hands back to the main queue runs on the main thread.
TEST(SimClockTest, WorkerSleepsOnVirtualTimeAndHandsBackToMain) {
  SimClock clock;
  std::vector<double> wakeTimes;
  std::atomic<bool> ranOffMain{false};
  double deliveredAt = -1;
  bool deliveredOnMain = false;
  clock.globalQueue(QoSClass::userInitiated).async([&] {
    ranOffMain = !clock.isMainThread();
    for (int i = 0; i < 3; ++i) {
      clock.sleepForTimeInterval(0.1);
      wakeTimes.push_back(clock.now());
    }
    clock.mainQueue().async([&] {
      deliveredAt = clock.now();
      deliveredOnMain = clock.isMainThread();
    });
  });
  clock.advance(0.25);
  EXPECT_EQ(wakeTimes.size(), 2u);
  EXPECT_EQ(deliveredAt, -1);
  clock.advance(0.05);
  ASSERT_EQ(wakeTimes.size(), 3u);
  EXPECT_NEAR(wakeTimes[2], 0.3, 1e-9);
  EXPECT_NEAR(deliveredAt, 0.3, 1e-9);
  EXPECT_TRUE(ranOffMain);
  EXPECT_TRUE(deliveredOnMain);
  EXPECT_EQ(clock.activeWorkerBlocks(), 0u);
}

// A sleep on the main thread holds the main queue but not other processes or
// workers.
TEST(SimClockTest, MainSleepHoldsMainQueueOnly) {
  SimClock clock;
  std::vector<std::string> order;
  clock.mainQueue().async([&] {
    clock.sleepForTimeInterval(0.5);
    order.push_back("sleeper done@" + std::to_string(clock.now()).substr(0, 3));
  });
  clock.mainQueue().asyncAfter(0.1, [&] { order.push_back("main@0.1"); });
  clock.scheduleExternal(0.2, [&] { order.push_back("external@0.2"); });
  clock.globalQueue(QoSClass::userInitiated).asyncAfter(0.3, [&] {
    order.push_back("worker@0.3");
  });
  clock.advance(1);
  EXPECT_EQ(order, (std::vector<std::string>{"external@0.2", "worker@0.3", "sleeper done@0.5",
                                             "main@0.1"}));
}

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
