#pragma once

// What every dispatch backend promises the host, written against the seam
// alone and run against each backend through a harness of its own.
//
// A harness `H` is made on the thread that is to be the main thread and
// offers:
//   platform::Dispatch& dispatch();
//   // Runs the main queue for `seconds` of the dispatch's own time (virtual
//   // on the simulated clock).
//   void runFor(double seconds);
//   // Runs the main queue until `done()` holds or `seconds` have passed;
//   // whether it held.
//   bool runUntil(const std::function<bool()>& done, double seconds);
// Destroying the harness destroys the dispatch.

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/dispatch.h"

namespace lumivane::contract {

template <class H>
class DispatchContract : public ::testing::Test {
 protected:
  DispatchContract() : harness_(std::make_unique<H>()), mainThread_(std::this_thread::get_id()) {}

  H& harness() { return *harness_; }
  platform::Dispatch& dispatch() { return harness_->dispatch(); }
  platform::DispatchQueue& main() { return dispatch().mainQueue(); }
  platform::DispatchQueue& global() {
    return dispatch().globalQueue(platform::QoSClass::userInitiated);
  }
  bool onMainThread() const { return std::this_thread::get_id() == mainThread_; }
  void destroyDispatch() { harness_.reset(); }

  // Appends under a lock: blocks on several threads record into it.
  void note(const std::string& what) {
    std::lock_guard lock(mutex_);
    log_.push_back(what);
  }
  std::vector<std::string> log() {
    std::lock_guard lock(mutex_);
    return log_;
  }
  std::size_t logged() { return log().size(); }

 private:
  std::unique_ptr<H> harness_;
  std::thread::id mainThread_;
  std::mutex mutex_;
  std::vector<std::string> log_;
};

TYPED_TEST_SUITE_P(DispatchContract);

// Blocks run when they fall due, never before, and among those due together
// in the order they were submitted. Zero, negative and NaN delays are due at
// once.
TYPED_TEST_P(DispatchContract, MainQueueRunsInDueTimeThenSubmissionOrder) {
  auto& main = this->main();
  const double start = this->dispatch().now();
  const auto record = [this, start](const char* name, double delay) {
    return [this, name, start, delay] {
      EXPECT_TRUE(this->onMainThread()) << name;
      EXPECT_GE(this->dispatch().now() - start, delay - 1e-9) << name << " ran early";
      this->note(name);
    };
  };
  main.async(record("A", 0));
  main.asyncAfter(0.2, record("B", 0.2));
  main.asyncAfter(0.1, record("C", 0.1));
  main.async(record("D", 0));
  main.asyncAfter(0.1, record("E", 0.1));
  main.asyncAfter(0, record("F", 0));
  main.asyncAfter(-1, record("G", 0));
  main.asyncAfter(std::nan(""), record("H", 0));
  EXPECT_TRUE(this->log().empty()) << "a block ran before its submission returned";
  ASSERT_TRUE(this->harness().runUntil([this] { return this->logged() == 8; }, 10));
  EXPECT_EQ(this->log(), (std::vector<std::string>{"A", "D", "F", "G", "H", "C", "E", "B"}));
}

// A delay too long to express never comes due: it neither runs early nor
// runs at all, and the block goes unrun with the dispatch.
TYPED_TEST_P(DispatchContract, HugeAndInfiniteDelaysNeverRunEarly) {
  auto& main = this->main();
  auto sentinel = std::make_shared<int>(0);
  std::weak_ptr<int> watch = sentinel;
  for (double delay : {1e12, std::numeric_limits<double>::infinity(),
                       std::numeric_limits<double>::max(), 9.3e18}) {
    main.asyncAfter(delay, [this, sentinel, delay] { this->note("ran " + std::to_string(delay)); });
    this->global().asyncAfter(delay, [this, sentinel] { this->note("worker ran"); });
  }
  sentinel.reset();
  bool markerRan = false;
  main.asyncAfter(0.3, [&] { markerRan = true; });
  ASSERT_TRUE(this->harness().runUntil([&] { return markerRan; }, 10));
  this->harness().runFor(0.5);
  EXPECT_TRUE(this->log().empty());
  EXPECT_FALSE(watch.expired()) << "pending blocks are kept until the dispatch goes";
  this->destroyDispatch();
  EXPECT_TRUE(watch.expired()) << "pending blocks went unreleased with the dispatch";
  EXPECT_TRUE(this->log().empty());
}

// Global-queue work runs off the main thread; what it hands to the main queue
// runs on the main thread.
TYPED_TEST_P(DispatchContract, GlobalQueueWorkRunsOffTheMainThreadAndHandsBack) {
  std::atomic<int> offMain{0};
  std::atomic<int> backOnMain{0};
  constexpr int kBlocks = 8;
  for (int i = 0; i < kBlocks; ++i) {
    this->global().async([this, &offMain, &backOnMain] {
      if (!this->onMainThread())
        ++offMain;
      this->main().async([this, &backOnMain] {
        if (this->onMainThread())
          ++backOnMain;
      });
    });
  }
  ASSERT_TRUE(this->harness().runUntil([&] { return backOnMain.load() == kBlocks; }, 20));
  EXPECT_EQ(offMain.load(), kBlocks);
}

// Many threads submitting at once: every block runs exactly once, on the
// main thread, and each thread's blocks in the order it submitted them.
TYPED_TEST_P(DispatchContract, BlocksFromManyThreadsEachRunOnceInTheirOrder) {
  constexpr int kPerWorker = 200;
  constexpr int kWorkers = 4;
  std::vector<int> runs(kPerWorker * kWorkers, 0);
  // Main thread only: written without a lock, so a block off it is a race.
  std::vector<int> next(kWorkers, 0);
  int outOfOrder = 0;
  std::atomic<int> total{0};
  for (int w = 0; w < kWorkers; ++w) {
    this->global().async([this, w, &runs, &next, &outOfOrder, &total] {
      for (int i = 0; i < kPerWorker; ++i) {
        this->main().async([this, w, i, &runs, &next, &outOfOrder, &total] {
          EXPECT_TRUE(this->onMainThread());
          ++runs[static_cast<std::size_t>(w * kPerWorker + i)];
          outOfOrder += next[static_cast<std::size_t>(w)] == i ? 0 : 1;
          next[static_cast<std::size_t>(w)] = i + 1;
          ++total;
        });
      }
    });
  }
  ASSERT_TRUE(this->harness().runUntil([&] { return total.load() == kPerWorker * kWorkers; }, 30));
  this->harness().runFor(0.05);
  for (int count : runs)
    ASSERT_EQ(count, 1);
  EXPECT_EQ(outOfOrder, 0);
}

// A sleep takes at least its time on the dispatch's clock. On a worker it
// holds only that worker; on the main thread it holds the main queue, so a
// block due meanwhile runs after the sleeping one has finished.
TYPED_TEST_P(DispatchContract, SleepTakesItsTimeAndOnTheMainThreadHoldsTheMainQueue) {
  std::atomic<double> slept{-1};
  this->global().async([this, &slept] {
    const double start = this->dispatch().now();
    this->dispatch().sleepForTimeInterval(0.1);
    slept = this->dispatch().now() - start;
  });
  ASSERT_TRUE(this->harness().runUntil([&] { return slept.load() >= 0; }, 10));
  EXPECT_GE(slept.load(), 0.1 - 1e-9);

  auto& main = this->main();
  main.async([this] {
    this->dispatch().sleepForTimeInterval(0.2);
    this->note("sleeper done");
  });
  main.asyncAfter(0.05, [this] { this->note("due during the sleep"); });
  ASSERT_TRUE(this->harness().runUntil([this] { return this->logged() == 2; }, 10));
  EXPECT_EQ(this->log(), (std::vector<std::string>{"sleeper done", "due during the sleep"}));
}

REGISTER_TYPED_TEST_SUITE_P(DispatchContract,
                            MainQueueRunsInDueTimeThenSubmissionOrder,
                            HugeAndInfiniteDelaysNeverRunEarly,
                            GlobalQueueWorkRunsOffTheMainThreadAndHandsBack,
                            BlocksFromManyThreadsEachRunOnceInTheirOrder,
                            SleepTakesItsTimeAndOnTheMainThreadHoldsTheMainQueue);

}  // namespace lumivane::contract
