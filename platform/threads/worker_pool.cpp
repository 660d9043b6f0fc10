#include "platform/threads/worker_pool.h"

#include <algorithm>
#include <utility>

namespace lumivane::platform {
namespace {

// QoSClass lists the classes from most to least urgent, so the enumerator's
// value is also its rank.
constexpr std::size_t kDefaultQoSIndex = static_cast<std::size_t>(QoSClass::defaultClass);
static_assert(static_cast<std::size_t>(QoSClass::userInteractive) == 0);
static_assert(static_cast<std::size_t>(QoSClass::background) == WorkerPool::kQoSClassCount - 1);

}  // namespace

void WorkerPool::Queue::async(DispatchBlock block) {
  owner_.submit(qosIndex_, DispatchClock::now(), std::move(block));
}

void WorkerPool::Queue::asyncAfter(double seconds, DispatchBlock block) {
  owner_.submit(qosIndex_, dispatchDueTime(DispatchClock::now(), seconds), std::move(block));
}

WorkerPool::WorkerPool(std::size_t workerCount) {
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

WorkerPool::~WorkerPool() {
  stopWorkers();
  while (discardPending()) {
  }
}

std::size_t WorkerPool::defaultWorkerCount() {
  return std::max<std::size_t>(2, std::thread::hardware_concurrency());
}

DispatchQueue& WorkerPool::queue(QoSClass qos) {
  const auto index = static_cast<std::size_t>(qos);
  return queues_[index < kQoSClassCount ? index : kDefaultQoSIndex];
}

void WorkerPool::stopWorkers() {
  {
    std::lock_guard lock(mutex_);
    stopping_ = true;
    wake_.notify_all();
  }
  for (auto& worker : workers_) {
    if (worker.joinable()) {
      worker.join();
    }
  }
}

bool WorkerPool::discardPending() {
  std::vector<TimedBlock> timers;
  std::array<std::deque<DispatchBlock>, kQoSClassCount> ready;
  {
    std::lock_guard lock(mutex_);
    timers = timers_.takeAll();
    ready.swap(ready_);
    readyCount_ = 0;
  }
  const bool anyReady =
      std::any_of(ready.begin(), ready.end(), [](const auto& blocks) { return !blocks.empty(); });
  return !timers.empty() || anyReady;
  // timers and ready go out of scope here, with no lock held.
}

void WorkerPool::submit(std::size_t qosIndex, DispatchClock::time_point due, DispatchBlock block) {
  if (!block) {
    return;
  }
  std::lock_guard lock(mutex_);
  const auto current = DispatchClock::now();
  // Timers that fell due while every worker was busy go first: they are due
  // earlier than this block.
  promoteDueTimers(current);
  if (due <= current) {
    ready_[qosIndex].push_back(std::move(block));
    ++readyCount_;
  } else {
    timers_.push(due, std::move(block), qosIndex);
  }
  // One worker is enough: for a due block it takes it; for a timer it
  // recomputes how long to wait, in case this one is now the earliest.
  wake_.notify_one();
}

void WorkerPool::promoteDueTimers(DispatchClock::time_point current) {
  while (!timers_.empty() && timers_.earliest().due <= current) {
    TimedBlock timed = timers_.popEarliest();
    ready_[timed.tag].push_back(std::move(timed.block));
    ++readyCount_;
  }
}

void WorkerPool::workerLoop() {
  std::unique_lock lock(mutex_);
  while (!stopping_) {
    promoteDueTimers(DispatchClock::now());
    if (readyCount_ > 0) {
      auto& blocks = *std::find_if(ready_.begin(), ready_.end(),
                                   [](const auto& queue) { return !queue.empty(); });
      DispatchBlock block = std::move(blocks.front());
      blocks.pop_front();
      --readyCount_;
      if (readyCount_ > 0) {
        // Timers promoted together, or submissions made while every worker
        // was busy: hand the rest to an idle worker instead of leaving them
        // until this block ends.
        wake_.notify_one();
      }
      lock.unlock();
      block();
      block = nullptr;  // Captures die before the lock is taken again.
      lock.lock();
      continue;
    }

    if (timers_.empty() || !comesDue(timers_.earliest().due)) {
      wake_.wait(lock);
    } else {
      // A copy: wait_until reads its argument again after relocking, when a
      // submission may have moved the heap's storage.
      const DispatchClock::time_point earliest = timers_.earliest().due;
      wake_.wait_until(lock, earliest);
    }
  }
}

}  // namespace lumivane::platform
