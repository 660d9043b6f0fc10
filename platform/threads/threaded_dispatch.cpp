#include "platform/threads/threaded_dispatch.h"

#include <algorithm>
#include <utility>

namespace lumivane::platform {

// --- Queues -----------------------------------------------------------------

void ThreadedDispatch::MainQueue::async(DispatchBlock block) {
  owner_.submitMain(Clock::now(), std::move(block));
}

void ThreadedDispatch::MainQueue::asyncAfter(double seconds, DispatchBlock block) {
  owner_.submitMain(dispatchDueTime(Clock::now(), seconds), std::move(block));
}

// --- Construction and teardown ------------------------------------------------

ThreadedDispatch::ThreadedDispatch() : ThreadedDispatch(defaultWorkerCount()) {}

ThreadedDispatch::ThreadedDispatch(std::size_t workerCount)
    : origin_(Clock::now()), mainThread_(std::this_thread::get_id()), pool_(workerCount) {}

ThreadedDispatch::~ThreadedDispatch() {
  pool_.stopWorkers();
  // Destroying a block may submit another (a capture's destructor posting its
  // last word), so discard both kinds until both stay empty.
  for (;;) {
    const bool main = discardMainPending();
    const bool global = pool_.discardPending();
    if (!main && !global) {
      return;
    }
  }
}

bool ThreadedDispatch::discardMainPending() {
  std::vector<TimedBlock> discarded;
  {
    std::lock_guard lock(mainMutex_);
    discarded = mainPending_.takeAll();
  }
  return !discarded.empty();  // Destroyed here, with no lock held.
}

// --- Services -----------------------------------------------------------------

DispatchQueue& ThreadedDispatch::mainQueue() {
  return mainQueue_;
}

DispatchQueue& ThreadedDispatch::globalQueue(QoSClass qos) {
  return pool_.queue(qos);
}

void ThreadedDispatch::sleepForTimeInterval(double seconds) {
  const auto current = Clock::now();
  const auto until = dispatchDueTime(current, seconds);
  if (until > current) {
    std::this_thread::sleep_until(until);
  }
}

double ThreadedDispatch::now() const {
  return std::chrono::duration<double>(Clock::now() - origin_).count();
}

bool ThreadedDispatch::isMainThread() const {
  return std::this_thread::get_id() == mainThread_.load(std::memory_order_acquire);
}

// --- Main loop ----------------------------------------------------------------

void ThreadedDispatch::submitMain(Clock::time_point due, DispatchBlock block) {
  if (!block) {
    return;
  }
  std::lock_guard lock(mainMutex_);
  mainPending_.push(due, std::move(block));
  // Notified under the lock: once the loop may see the block, the submitter no
  // longer touches this object, so a test may destroy it right after.
  mainWake_.notify_one();
}

void ThreadedDispatch::runMainLoop() {
  runMain(/*untilIdle=*/false, Clock::time_point::max());
}

bool ThreadedDispatch::runMainLoopUntilIdle(double timeoutSeconds) {
  return runMain(/*untilIdle=*/true, dispatchDueTime(Clock::now(), timeoutSeconds));
}

void ThreadedDispatch::stopMainLoop() {
  std::lock_guard lock(mainMutex_);
  mainStopRequested_ = true;
  mainWake_.notify_one();
}

bool ThreadedDispatch::runMain(bool untilIdle, Clock::time_point deadline) {
  std::unique_lock lock(mainMutex_);
  if (mainRunning_) {
    return false;
  }
  mainRunning_ = true;
  mainThread_.store(std::this_thread::get_id(), std::memory_order_release);

  // Clears the running mark on every way out, including a block that throws
  // (the lock is released while a block runs), so the loop can be run again.
  struct RunningMark {
    std::unique_lock<std::mutex>& lock;
    bool& running;
    ~RunningMark() {
      if (!lock.owns_lock()) {
        lock.lock();
      }
      running = false;
    }
  } runningMark{lock, mainRunning_};

  for (;;) {
    if (mainStopRequested_) {
      mainStopRequested_ = false;
      std::vector<TimedBlock> discarded = mainPending_.takeAll();
      lock.unlock();
      discarded.clear();  // Their destructors may submit again; the lock is free.
      return false;
    }
    if (mainPending_.empty()) {
      if (untilIdle) {
        return true;
      }
      mainWake_.wait(lock);
      continue;
    }
    const auto current = Clock::now();
    const auto due = mainPending_.earliest().due;
    if (due <= current) {
      DispatchBlock block = mainPending_.popEarliest().block;
      lock.unlock();
      block();
      block = nullptr;  // Captures die before the lock is taken again.
      lock.lock();
      continue;
    }
    if (untilIdle && deadline <= current) {
      return false;
    }
    const Clock::time_point wakeAt = std::min(due, deadline);  // A copy, not into the heap.
    if (comesDue(wakeAt)) {
      mainWake_.wait_until(lock, wakeAt);
    } else {
      mainWake_.wait(lock);
    }
  }
}

}  // namespace lumivane::platform
