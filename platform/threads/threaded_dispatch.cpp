#include "platform/threads/threaded_dispatch.h"

#include <algorithm>
#include <utility>

namespace lumivane::platform {
namespace {

using Clock = std::chrono::steady_clock;

// Past this a delay is as good as never, and capping it keeps the time-point
// arithmetic (signed nanoseconds) far from overflow.
constexpr double kLongestDelaySeconds = 1e9;

Clock::duration delayOf(double seconds) {
  if (!(seconds > 0.0)) {  // Also catches NaN.
    return Clock::duration::zero();
  }
  // Rounded up, so a block never falls due a fraction of a tick early.
  return std::chrono::ceil<Clock::duration>(
      std::chrono::duration<double>(std::min(seconds, kLongestDelaySeconds)));
}

// Heap order for std::push_heap / std::pop_heap: "a comes after b", which puts
// the earliest (due, sequence) at the front.
template <typename Timed>
bool comesAfter(const Timed& a, const Timed& b) {
  if (a.due != b.due) {
    return a.due > b.due;
  }
  return a.sequence > b.sequence;
}

template <typename Timed>
void pushTimed(std::vector<Timed>& heap, Timed timed) {
  heap.push_back(std::move(timed));
  std::push_heap(heap.begin(), heap.end(), comesAfter<Timed>);
}

template <typename Timed>
Timed popEarliest(std::vector<Timed>& heap) {
  std::pop_heap(heap.begin(), heap.end(), comesAfter<Timed>);
  Timed timed = std::move(heap.back());
  heap.pop_back();
  return timed;
}

// QoSClass lists the classes from most to least urgent, so the enumerator's
// value is also its rank.
constexpr std::size_t kDefaultQoSIndex = static_cast<std::size_t>(QoSClass::defaultClass);
static_assert(static_cast<std::size_t>(QoSClass::userInteractive) == 0);
static_assert(static_cast<std::size_t>(QoSClass::background) == 4);

}  // namespace

// --- Queues -----------------------------------------------------------------

void ThreadedDispatch::MainQueue::async(DispatchBlock block) {
  owner_.submitMain(Clock::now(), std::move(block));
}

void ThreadedDispatch::MainQueue::asyncAfter(double seconds, DispatchBlock block) {
  owner_.submitMain(Clock::now() + delayOf(seconds), std::move(block));
}

void ThreadedDispatch::GlobalQueue::async(DispatchBlock block) {
  owner_.submitGlobal(qosIndex_, Clock::now(), std::move(block));
}

void ThreadedDispatch::GlobalQueue::asyncAfter(double seconds, DispatchBlock block) {
  owner_.submitGlobal(qosIndex_, Clock::now() + delayOf(seconds), std::move(block));
}

// --- Construction and teardown ------------------------------------------------

ThreadedDispatch::ThreadedDispatch() : ThreadedDispatch(defaultWorkerCount()) {}

ThreadedDispatch::ThreadedDispatch(std::size_t workerCount)
    : origin_(Clock::now()), mainThread_(std::this_thread::get_id()) {
  workerCount = std::max<std::size_t>(workerCount, 1);
  workers_.reserve(workerCount);
  try {
    for (std::size_t i = 0; i < workerCount; ++i) {
      workers_.emplace_back([this] { workerLoop(); });
    }
  } catch (...) {
    // A thread that could not start must not leave the started ones joinable:
    // destroying a joinable std::thread ends the process.
    stopWorkers();
    throw;
  }
}

ThreadedDispatch::~ThreadedDispatch() {
  stopWorkers();
  discardAllPending();
}

std::size_t ThreadedDispatch::defaultWorkerCount() {
  return std::max<std::size_t>(2, std::thread::hardware_concurrency());
}

void ThreadedDispatch::stopWorkers() {
  {
    std::lock_guard lock(poolMutex_);
    poolStopping_ = true;
    poolWake_.notify_all();
  }
  for (auto& worker : workers_) {
    if (worker.joinable()) {
      worker.join();
    }
  }
}

void ThreadedDispatch::discardAllPending() {
  // Destroying a block may submit another (a capture's destructor posting its
  // last word), so take everything, destroy it unlocked, and repeat until both
  // queues stay empty.
  for (;;) {
    std::vector<TimedBlock> main;
    std::vector<TimedBlock> timers;
    std::array<std::deque<DispatchBlock>, kQoSClassCount> ready;
    {
      std::lock_guard lock(mainMutex_);
      main.swap(mainPending_);
    }
    {
      std::lock_guard lock(poolMutex_);
      timers.swap(poolTimers_);
      ready.swap(poolReady_);
      poolReadyCount_ = 0;
    }
    const bool anyReady =
        std::any_of(ready.begin(), ready.end(), [](const auto& blocks) { return !blocks.empty(); });
    if (main.empty() && timers.empty() && !anyReady) {
      return;
    }
    // main, timers and ready go out of scope here, with no lock held.
  }
}

// --- Services -----------------------------------------------------------------

DispatchQueue& ThreadedDispatch::mainQueue() {
  return mainQueue_;
}

DispatchQueue& ThreadedDispatch::globalQueue(QoSClass qos) {
  const auto index = static_cast<std::size_t>(qos);
  return globalQueues_[index < kQoSClassCount ? index : kDefaultQoSIndex];
}

void ThreadedDispatch::sleepForTimeInterval(double seconds) {
  const auto delay = delayOf(seconds);
  if (delay > Clock::duration::zero()) {
    std::this_thread::sleep_for(delay);
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
  pushTimed(mainPending_, TimedBlock{due, mainSequence_++, 0, std::move(block)});
  // Notified under the lock: once the loop may see the block, the submitter no
  // longer touches this object, so a test may destroy it right after.
  mainWake_.notify_one();
}

void ThreadedDispatch::runMainLoop() {
  runMain(/*untilIdle=*/false, Clock::time_point::max());
}

bool ThreadedDispatch::runMainLoopUntilIdle(double timeoutSeconds) {
  return runMain(/*untilIdle=*/true, Clock::now() + delayOf(timeoutSeconds));
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
      std::vector<TimedBlock> discarded;
      discarded.swap(mainPending_);
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
    const auto due = mainPending_.front().due;
    if (due <= current) {
      DispatchBlock block = popEarliest(mainPending_).block;
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
    mainWake_.wait_until(lock, wakeAt);
  }
}

// --- Worker pool --------------------------------------------------------------

void ThreadedDispatch::submitGlobal(std::size_t qosIndex,
                                    Clock::time_point due,
                                    DispatchBlock block) {
  if (!block) {
    return;
  }
  std::lock_guard lock(poolMutex_);
  const auto current = Clock::now();
  // Timers that fell due while every worker was busy go first: they are due
  // earlier than this block.
  promoteDueTimers(current);
  if (due <= current) {
    poolReady_[qosIndex].push_back(std::move(block));
    ++poolReadyCount_;
  } else {
    pushTimed(poolTimers_, TimedBlock{due, poolSequence_++, qosIndex, std::move(block)});
  }
  // One worker is enough: for a due block it takes it; for a timer it
  // recomputes how long to wait, in case this one is now the earliest.
  poolWake_.notify_one();
}

void ThreadedDispatch::promoteDueTimers(Clock::time_point current) {
  while (!poolTimers_.empty() && poolTimers_.front().due <= current) {
    TimedBlock timed = popEarliest(poolTimers_);
    poolReady_[timed.qosIndex].push_back(std::move(timed.block));
    ++poolReadyCount_;
  }
}

void ThreadedDispatch::workerLoop() {
  std::unique_lock lock(poolMutex_);
  while (!poolStopping_) {
    promoteDueTimers(Clock::now());
    if (poolReadyCount_ > 0) {
      auto& blocks = *std::find_if(poolReady_.begin(), poolReady_.end(),
                                   [](const auto& queue) { return !queue.empty(); });
      DispatchBlock block = std::move(blocks.front());
      blocks.pop_front();
      --poolReadyCount_;
      if (poolReadyCount_ > 0) {
        // Timers promoted together, or submissions made while every worker
        // was busy: hand the rest to an idle worker instead of leaving them
        // until this block ends.
        poolWake_.notify_one();
      }
      lock.unlock();
      block();
      block = nullptr;  // Captures die before the lock is taken again.
      lock.lock();
      continue;
    }

    if (poolTimers_.empty()) {
      poolWake_.wait(lock);
    } else {
      // A copy: wait_until reads its argument again after relocking, when a
      // submission may have moved the heap's storage.
      const Clock::time_point earliest = poolTimers_.front().due;
      poolWake_.wait_until(lock, earliest);
    }
  }
}

}  // namespace lumivane::platform
