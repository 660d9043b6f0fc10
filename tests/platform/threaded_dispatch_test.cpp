#include "platform/threads/threaded_dispatch.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cstddef>
#include <latch>
#include <limits>
#include <memory>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace lumivane::platform {
namespace {

// Bounds runMainLoopUntilIdle only so a broken build fails instead of hanging.
constexpr double kHangGuardSeconds = 60.0;

using Log = std::vector<std::string>;

// Counts its own destruction, to show a block (and so its captures) was freed.
struct FreedCounter {
  explicit FreedCounter(std::atomic<int>& freed) : freed(freed) {}
  ~FreedCounter() { ++freed; }
  FreedCounter(const FreedCounter&) = delete;
  FreedCounter& operator=(const FreedCounter&) = delete;
  std::atomic<int>& freed;
};

// --- The main queue and its run loop -----------------------------------------

// What the dispatch contract leaves open: a block submitted from a running
// block waits behind those already queued, a null block is ignored, and a
// loop run until idle says that endless delays are still pending.
TEST(ThreadedDispatchMainQueue, NestedBlocksQueueBehindAndNullBlocksAreIgnored) {
  ThreadedDispatch dispatch(1);
  Log log;
  auto& main = dispatch.mainQueue();
  main.async([&] {
    main.async([&] { log.push_back("nested"); });
    log.push_back("first");
  });
  main.async([&] { log.push_back("second"); });
  main.asyncAfter(std::numeric_limits<double>::infinity(), [&] { log.push_back("never"); });
  main.async(nullptr);

  EXPECT_FALSE(dispatch.runMainLoopUntilIdle(0.01)) << "the endless delay stays pending";
  EXPECT_EQ(log, (Log{"first", "second", "nested"}));
}

// The main thread is whichever runs the loop: blocks from any thread run
// there, and only there.
TEST(ThreadedDispatchMainQueue, BlocksRunOnlyOnTheThreadRunningTheLoop) {
  ThreadedDispatch dispatch(2);
  EXPECT_TRUE(dispatch.isMainThread()) << "before any loop, the constructing thread is main";
  std::latch loopRunning(1);
  dispatch.mainQueue().async([&] { loopRunning.count_down(); });
  std::thread::id loopThread;
  std::vector<std::thread::id> ranOn;
  std::thread loop([&] {
    loopThread = std::this_thread::get_id();
    dispatch.runMainLoop();
  });
  loopRunning.wait();
  EXPECT_FALSE(dispatch.isMainThread()) << "the loop has moved the main thread";
  auto record = [&] {
    ranOn.push_back(dispatch.isMainThread() ? std::this_thread::get_id() : std::thread::id());
  };
  dispatch.mainQueue().async(record);
  dispatch.globalQueue(QoSClass::userInitiated).async([&] {
    dispatch.mainQueue().async(record);
    dispatch.mainQueue().async([&] { dispatch.stopMainLoop(); });
  });
  loop.join();
  EXPECT_EQ(ranOn, (std::vector<std::thread::id>{loopThread, loopThread}));
}

TEST(ThreadedDispatchMainQueue, StopFromABlockEndsTheLoopAndDiscardsWhatIsLeft) {
  ThreadedDispatch dispatch(1);
  Log log;
  auto capture = std::make_shared<int>(0);
  const std::weak_ptr<int> watch = capture;
  dispatch.mainQueue().async([&] {
    dispatch.stopMainLoop();
    log.push_back("stopper");  // The stopping block runs to its end.
  });
  dispatch.mainQueue().async([&log, capture] { log.push_back("after the stop"); });
  dispatch.mainQueue().asyncAfter(1000, [&log, capture] { log.push_back("delayed"); });
  capture.reset();

  dispatch.runMainLoop();
  EXPECT_EQ(log, (Log{"stopper"}));
  EXPECT_TRUE(watch.expired()) << "discarded blocks are freed at the stop, not kept";

  // The loop runs again afterwards, with only what is submitted since.
  dispatch.mainQueue().async([&] { log.push_back("fresh"); });
  EXPECT_TRUE(dispatch.runMainLoopUntilIdle(kHangGuardSeconds));
  EXPECT_EQ(log, (Log{"stopper", "fresh"}));
}

TEST(ThreadedDispatchMainQueue, StopFromAnotherThreadIsNeverLost) {
  for (const bool timerPending : {false, true}) {
    SCOPED_TRACE(timerPending ? "loop waiting for a timer" : "loop waiting for work");
    ThreadedDispatch dispatch(1);
    std::latch running(1);
    dispatch.mainQueue().async([&] { running.count_down(); });
    if (timerPending) {
      dispatch.mainQueue().asyncAfter(1000, [] {});
    }
    std::thread loop([&] { dispatch.runMainLoop(); });
    running.wait();
    dispatch.stopMainLoop();
    loop.join();  // Never returns if the stop does not wake the loop.
  }
  // Requested before the loop starts (a stop racing start-up), it ends the
  // next run at once; that run uses it up.
  ThreadedDispatch dispatch(1);
  bool ran = false;
  dispatch.mainQueue().async([&] { ran = true; });
  dispatch.stopMainLoop();
  dispatch.runMainLoop();
  EXPECT_FALSE(ran);
  dispatch.mainQueue().async([&] { ran = true; });
  EXPECT_TRUE(dispatch.runMainLoopUntilIdle(kHangGuardSeconds));
  EXPECT_TRUE(ran);
}

TEST(ThreadedDispatchMainQueue, TheLoopSurvivesAThrowingBlockAndIsNotReentrant) {
  ThreadedDispatch dispatch(1);
  Log log;
  dispatch.mainQueue().async([] { throw std::runtime_error("fault in a block"); });
  dispatch.mainQueue().async([&] {
    // Entering the loop from inside it returns at once, running nothing.
    EXPECT_FALSE(dispatch.runMainLoopUntilIdle(kHangGuardSeconds));
    log.push_back("inner");
  });
  dispatch.mainQueue().async([&] { log.push_back("outer"); });

  EXPECT_THROW(dispatch.runMainLoop(), std::runtime_error);
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(dispatch.runMainLoopUntilIdle(kHangGuardSeconds));
  EXPECT_EQ(log, (Log{"inner", "outer"}));
}

// --- The global queues and their worker pool ---------------------------------

TEST(ThreadedDispatchGlobalQueues, BlocksRunConcurrentlyOffTheMainThread) {
  std::latch bothRunning(2);
  std::latch done(2);
  ThreadedDispatch dispatch(2);
  std::atomic<int> onMain{0};
  for (const QoSClass qos : {QoSClass::userInitiated, QoSClass::background}) {
    // Each waits for the other to start: run one at a time, neither finishes.
    dispatch.globalQueue(qos).async([&] {
      onMain += dispatch.isMainThread() ? 1 : 0;
      bothRunning.arrive_and_wait();
      done.count_down();
    });
  }
  done.wait();
  EXPECT_EQ(onMain.load(), 0);
}

TEST(ThreadedDispatchGlobalQueues, DelayedBlocksRunInDueOrderAndNotBeforeTheirDelay) {
  std::latch done(1);
  ThreadedDispatch dispatch(1);
  Log log;  // One worker appends; read after `done`.
  std::atomic<double> earlyAt{0};
  auto& queue = dispatch.globalQueue(QoSClass::userInitiated);
  const double start = dispatch.now();
  queue.asyncAfter(0.03, [&] {
    log.push_back("late");
    done.count_down();
  });
  // Earlier than the timer the idle worker is already waiting for.
  queue.asyncAfter(0.01, [&] {
    log.push_back("early");
    earlyAt = dispatch.now() - start;
  });
  queue.async([&] { log.push_back("now"); });
  done.wait();

  EXPECT_EQ(log, (Log{"now", "early", "late"}));
  EXPECT_GE(earlyAt.load(), 0.01);
  EXPECT_GE(dispatch.now() - start, 0.03);
}

// With the only worker held, everything below queues up; released, the worker
// starts the most urgent class first, and within a class the earliest due.
TEST(ThreadedDispatchGlobalQueues, BusyWorkersStartHigherClassesFirstThenEarlierDue) {
  std::latch occupied(1);
  std::latch release(1);
  std::latch done(5);
  ThreadedDispatch dispatch(1);
  Log log;  // One worker appends; read after `done`.
  auto submit = [&](QoSClass qos, std::string name, double delay = 0) {
    dispatch.globalQueue(qos).asyncAfter(delay, [&, name = std::move(name)] {
      log.push_back(name);
      done.count_down();
    });
  };
  dispatch.globalQueue(QoSClass::background).async([&] {
    occupied.count_down();
    release.wait();
  });
  occupied.wait();
  const double timerDue = dispatch.now() + 0.01;
  submit(QoSClass::utility, "utility timer", 0.01);
  while (dispatch.now() <= timerDue) {  // Let it fall due while the worker is held.
    dispatch.sleepForTimeInterval(0.002);
  }
  submit(QoSClass::background, "background");
  submit(QoSClass::utility, "utility");
  submit(QoSClass::userInitiated, "userInitiated");
  submit(QoSClass::userInteractive, "userInteractive");
  release.count_down();
  done.wait();

  EXPECT_EQ(log,
            (Log{"userInteractive", "userInitiated", "utility timer", "utility", "background"}));
}

// --- Teardown ------------------------------------------------------------------

TEST(ThreadedDispatchLifetime, DestructionLetsRunningBlocksFinish) {
  std::latch started(1);
  std::atomic<bool> finished{false};
  {
    ThreadedDispatch dispatch(2);
    dispatch.globalQueue(QoSClass::userInitiated).async([&] {
      started.count_down();
      dispatch.sleepForTimeInterval(0.02);
      finished = true;
    });
    started.wait();
  }
  EXPECT_TRUE(finished.load());
}

// A capture whose destructor submits work, as a last-word notification would.
// Blocks must be freed with no internal lock held, or this deadlocks; and what
// a freed block submits at teardown must be freed by teardown too, so each
// capture here submits one more generation before the last one.
TEST(ThreadedDispatchLifetime, CapturesMaySubmitWorkWhileTheirBlockIsFreed) {
  std::atomic<int> posted{0};
  std::atomic<int> freed{0};
  struct PostsWhenFreed {
    PostsWhenFreed(ThreadedDispatch& d, std::atomic<int>& p, std::atomic<int>& f, int generations)
        : dispatch(d), posted(p), freed(f), generations(generations) {}
    ~PostsWhenFreed() {
      std::shared_ptr<void> next;
      if (generations > 0) {
        next = std::make_shared<PostsWhenFreed>(dispatch, posted, freed, generations - 1);
      } else {
        next = std::make_shared<FreedCounter>(freed);
      }
      dispatch.mainQueue().async([next] {});
      dispatch.globalQueue(QoSClass::utility).async([next] {});
      ++posted;
    }
    ThreadedDispatch& dispatch;
    std::atomic<int>& posted;
    std::atomic<int>& freed;
    int generations;
  };
  {
    std::latch workerDone(1);
    ThreadedDispatch dispatch(2);
    auto make = [&] { return std::make_shared<PostsWhenFreed>(dispatch, posted, freed, 1); };
    // Freed after running on a worker.
    dispatch.globalQueue(QoSClass::userInitiated).async([&workerDone, p = make()] {
      workerDone.count_down();
    });
    workerDone.wait();
    // Freed after running on main, then discarded by the stop.
    dispatch.mainQueue().async([p = make()] {});
    dispatch.mainQueue().async([&] { dispatch.stopMainLoop(); });
    dispatch.mainQueue().async([p = make()] {});
    dispatch.runMainLoop();
    // Freed at destruction, pending on both kinds of queue.
    dispatch.mainQueue().asyncAfter(1000, [p = make()] {});
    dispatch.globalQueue(QoSClass::background).asyncAfter(1000, [p = make()] {});
  }
  EXPECT_EQ(posted.load(), 10) << "five captures, each with one successor";
  EXPECT_EQ(freed.load(), 5);
}

// --- Many threads at once (under ThreadSanitizer, a check of the locking) ----

// Producers keep submitting while the loop stops and restarts again and again,
// then the dispatch is destroyed: every block is freed exactly once, whether
// it ran, was discarded by a stop, or was still pending at teardown.
TEST(ThreadedDispatchStress, EveryBlockIsFreedOnceAcrossStopsAndTeardown) {
  constexpr int kProducers = 4;
  constexpr int kPerProducer = 1000;
  std::atomic<int> freed{0};
  {
    ThreadedDispatch dispatch(3);
    std::vector<std::thread> producers;
    producers.reserve(kProducers);
    for (int p = 0; p < kProducers; ++p) {
      producers.emplace_back([&, p] {
        for (int i = 0; i < kPerProducer; ++i) {
          auto token = std::make_shared<FreedCounter>(freed);
          auto& global = dispatch.globalQueue(QoSClass::userInitiated);
          switch ((p + i) % 4) {
            case 0:
              dispatch.mainQueue().async([token] {});
              break;
            case 1:
              dispatch.mainQueue().asyncAfter(0.001, [token] {});
              break;
            case 2:
              global.async([&dispatch, token] { dispatch.mainQueue().async([token] {}); });
              break;
            default:
              global.asyncAfter(0.001, [token] {});
              break;
          }
        }
      });
    }
    for (int cycle = 0; cycle < 40; ++cycle) {
      dispatch.mainQueue().async([&] { dispatch.stopMainLoop(); });
      dispatch.runMainLoop();
    }
    for (auto& producer : producers) {
      producer.join();
    }
  }
  EXPECT_EQ(freed.load(), kProducers * kPerProducer);
}

}  // namespace
}  // namespace lumivane::platform
