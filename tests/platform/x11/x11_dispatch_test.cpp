#include "platform/x11/x11_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <latch>
#include <limits>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/x11/x11_glib.h"

namespace lumivane::platform::x11 {
namespace {

// Bounds the loop only so a broken build fails instead of hanging.
constexpr double kHangGuardSeconds = 60.0;

using Log = std::vector<std::string>;

struct FreedCounter {
  explicit FreedCounter(std::atomic<int>& freed) : freed(freed) {}
  ~FreedCounter() { ++freed; }
  FreedCounter(const FreedCounter&) = delete;
  FreedCounter& operator=(const FreedCounter&) = delete;
  std::atomic<int>& freed;
};

TEST(X11DispatchMainQueue, RunsDueBlocksInSubmissionOrderOnlyWhenTheLoopTurns) {
  X11Dispatch dispatch(1);
  Log log;
  auto& main = dispatch.mainQueue();
  main.async([&] {
    // Queued behind what is already waiting; never run inside the call.
    main.async([&] { log.push_back("nested"); });
    log.push_back("first");
  });
  main.async([&] { log.push_back("second"); });
  main.asyncAfter(0, [&] { log.push_back("zero delay"); });
  main.asyncAfter(-5.0, [&] { log.push_back("negative delay"); });
  main.asyncAfter(std::nan(""), [&] { log.push_back("NaN delay"); });
  main.asyncAfter(std::numeric_limits<double>::infinity(), [&] { log.push_back("never"); });
  main.asyncAfter(1e300, [&] { log.push_back("never"); });
  main.asyncAfter(31.0 * 365 * 24 * 3600, [&] { log.push_back("never"); });
  main.async(nullptr);  // Ignored rather than run.
  EXPECT_TRUE(log.empty()) << "nothing runs until the loop turns";

  EXPECT_TRUE(dispatch.runMainLoopUntil([&] { return log.size() == 6; }, kHangGuardSeconds));
  EXPECT_EQ(log, (Log{"first", "second", "zero delay", "negative delay", "NaN delay", "nested"}));
  // The loop may turn for a while: the endless delays stay pending, unrun.
  dispatch.runMainLoopFor(0.05);
  EXPECT_EQ(log.size(), 6u);
  EXPECT_EQ(dispatch.pendingMainBlocks(), 3u);
}

TEST(X11DispatchMainQueue, DelayedBlocksRunInDueOrderAndNeverBeforeTheirDelay) {
  X11Dispatch dispatch(1);
  Log log;
  std::vector<double> late;
  const double start = dispatch.now();
  auto record = [&](std::string name, double delay) {
    dispatch.mainQueue().asyncAfter(delay, [&, name, delay] {
      log.push_back(name);
      late.push_back(dispatch.now() - start - delay);
    });
  };
  record("30ms", 0.03);
  record("10ms", 0.01);
  record("20ms a", 0.02);
  record("20ms b", 0.02);
  record("now", 0);
  EXPECT_TRUE(dispatch.runMainLoopUntil([&] { return log.size() == 5; }, kHangGuardSeconds));
  EXPECT_EQ(log, (Log{"now", "10ms", "20ms a", "20ms b", "30ms"}));
  for (double lateness : late) {
    EXPECT_GE(lateness, 0.0) << "a block ran before its delay";
  }
}

// Blocks from workers and other threads all run on the loop's thread, and each
// thread's blocks in the order it submitted them.
TEST(X11DispatchMainQueue, OtherThreadsSubmissionsRunOnTheMainThreadInTheirOrder) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 300;
  X11Dispatch dispatch(2);
  std::vector<int> next(kProducers, 0);  // Main thread only: a race if not.
  int outOfOrder = 0;
  int offMain = 0;
  int ran = 0;
  std::vector<std::thread> producers;
  for (int p = 0; p < kProducers; ++p) {
    producers.emplace_back([&, p] {
      for (int i = 0; i < kPerProducer; ++i) {
        auto block = [&, p, i] {
          outOfOrder += next[p] == i ? 0 : 1;
          next[p] = i + 1;
          offMain += dispatch.isMainThread() ? 0 : 1;
          ++ran;
        };
        if (p == 0) {
          // Handed back from a worker, as the host's capture does. Two
          // workers may hand back out of order, so these are only counted.
          dispatch.globalQueue(QoSClass::userInitiated).async([&dispatch, &ran, &offMain] {
            dispatch.mainQueue().async([&] {
              offMain += dispatch.isMainThread() ? 0 : 1;
              ++ran;
            });
          });
        } else {
          dispatch.mainQueue().async(block);
        }
      }
    });
  }
  EXPECT_TRUE(dispatch.runMainLoopUntil([&] { return ran == kProducers * kPerProducer; },
                                        kHangGuardSeconds));
  for (auto& producer : producers) {
    producer.join();
  }
  EXPECT_EQ(outOfOrder, 0);
  EXPECT_EQ(offMain, 0);
}

// The loop the application runs sleeps until something happens: a block from
// a worker must wake it (nothing else would here but the guard).
TEST(X11DispatchMainQueue, ABlockFromAWorkerWakesASleepingLoop) {
  X11Dispatch dispatch(1);
  std::unique_ptr<GMainLoop, decltype(&g_main_loop_unref)> loop(g_main_loop_new(nullptr, FALSE),
                                                                &g_main_loop_unref);
  bool ranOnMain = false;
  bool guardFired = false;
  auto guard = addMainTimeout(static_cast<guint>(kHangGuardSeconds * 1000), [&] {
    guardFired = true;
    g_main_loop_quit(loop.get());
    return false;
  });
  auto start = addMainTimeout(0, [&] {
    dispatch.globalQueue(QoSClass::userInitiated).asyncAfter(0.02, [&] {
      dispatch.mainQueue().async([&] {
        ranOnMain = dispatch.isMainThread();
        g_main_loop_quit(loop.get());
      });
    });
    return false;
  });
  g_main_loop_run(loop.get());
  EXPECT_TRUE(ranOnMain);
  EXPECT_FALSE(guardFired);
}

// A block that keeps resubmitting itself must not starve the desktop's own
// events and timers, which share the loop.
TEST(X11DispatchMainQueue, BlocksShareTheLoopWithTheDesktopsOwnSources) {
  X11Dispatch dispatch(1);
  bool stop = false;
  int spins = 0;
  std::function<void()> spin = [&] {
    ++spins;
    if (!stop) {
      dispatch.mainQueue().async(spin);
    }
  };
  dispatch.mainQueue().async(spin);
  bool timerFired = false;
  auto timer = addMainTimeout(5, [&] {
    timerFired = true;
    return false;
  });
  EXPECT_TRUE(dispatch.runMainLoopUntil([&] { return timerFired; }, kHangGuardSeconds));
  EXPECT_GT(spins, 0);
  stop = true;
  dispatch.runMainLoopUntil([&] { return dispatch.pendingMainBlocks() == 0; }, kHangGuardSeconds);
}

TEST(X11DispatchGlobalQueues, BlocksRunConcurrentlyOffTheMainThread) {
  X11Dispatch dispatch(2);
  std::latch bothRunning(2);
  std::latch done(2);
  std::atomic<int> onMain{0};
  for (const QoSClass qos : {QoSClass::userInitiated, QoSClass::background}) {
    dispatch.globalQueue(qos).async([&] {
      onMain += dispatch.isMainThread() ? 1 : 0;
      bothRunning.arrive_and_wait();  // Neither finishes unless both run at once.
      done.count_down();
    });
  }
  done.wait();
  EXPECT_EQ(onMain.load(), 0);
}

// On the main thread a sleep holds the loop: a block due meanwhile waits for
// the sleep to end and the loop to turn.
TEST(X11DispatchSleep, SleepsForRealAndHoldsTheMainQueue) {
  X11Dispatch dispatch(1);
  bool ran = false;
  dispatch.mainQueue().async([&] { ran = true; });
  const double start = dispatch.now();
  dispatch.sleepForTimeInterval(0.02);
  EXPECT_GE(dispatch.now() - start, 0.02);
  EXPECT_FALSE(ran);
  dispatch.sleepForTimeInterval(-1);  // Returns at once rather than waiting.
  dispatch.sleepForTimeInterval(std::nan(""));
  EXPECT_TRUE(dispatch.runMainLoopUntil([&] { return ran; }, kHangGuardSeconds));
}

TEST(X11DispatchLifetime, DestructionFreesPendingBlocksUnrunAndTheirLastWords) {
  std::atomic<int> ran{0};
  std::atomic<int> freed{0};
  struct PostsWhenFreed {
    PostsWhenFreed(X11Dispatch& d, std::atomic<int>& f) : dispatch(d), freed(f) {}
    ~PostsWhenFreed() {
      // A capture's destructor posting its last word must not deadlock, and
      // what it posts is freed by the same teardown.
      auto counter = std::make_shared<FreedCounter>(freed);
      dispatch.mainQueue().async([counter] {});
      dispatch.globalQueue(QoSClass::utility).async([counter] {});
    }
    X11Dispatch& dispatch;
    std::atomic<int>& freed;
  };
  {
    X11Dispatch dispatch(2);
    auto capture = std::make_shared<int>(0);
    dispatch.mainQueue().async([&ran, capture] { ++ran; });
    dispatch.mainQueue().asyncAfter(1000, [&ran, capture] { ++ran; });
    dispatch.mainQueue().asyncAfter(INFINITY, [&ran, capture] { ++ran; });
    dispatch.globalQueue(QoSClass::userInitiated).asyncAfter(1000, [&ran, capture] { ++ran; });
    dispatch.mainQueue().async([p = std::make_shared<PostsWhenFreed>(dispatch, freed)] {});
    dispatch.globalQueue(QoSClass::background)
        .asyncAfter(1000, [p = std::make_shared<PostsWhenFreed>(dispatch, freed)] {});
    const std::weak_ptr<int> watch = capture;
    capture.reset();
    EXPECT_FALSE(watch.expired());
  }
  EXPECT_EQ(ran.load(), 0);
  EXPECT_EQ(freed.load(), 2);
  // The source is gone with the dispatch: the loop turns without it.
  g_main_context_iteration(nullptr, FALSE);
}

}  // namespace
}  // namespace lumivane::platform::x11
