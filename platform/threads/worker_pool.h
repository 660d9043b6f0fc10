#pragma once

#include <array>
#include <condition_variable>
#include <cstddef>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch.h"
#include "platform/threads/timed_blocks.h"

namespace lumivane::platform {

// The worker threads behind the global queues of a real-thread dispatch: one
// fixed set of workers, created at construction, serving one queue per QoS
// class.
//
// When more blocks are due than workers are free, blocks of a higher class
// start first; within a class they start in (due time, submission order).
// Several may run at once. A block that throws ends the process
// (std::terminate), as an uncaught exception in a GCD block does.
//
// Every block is destroyed exactly once, after running or unrun, and always
// with no internal lock held, so a capture's destructor may submit more work.
//
// Teardown: stopWorkers() lets running blocks finish and joins the workers;
// blocks submitted after it wait until discardPending() or destruction, which
// destroy them unrun. Neither may be called on one of this pool's workers.
class WorkerPool {
 public:
  static constexpr std::size_t kQoSClassCount = 5;

  // A pool of `workerCount` workers (at least one).
  explicit WorkerPool(std::size_t workerCount);
  ~WorkerPool();

  WorkerPool(const WorkerPool&) = delete;
  WorkerPool& operator=(const WorkerPool&) = delete;

  // The global queue of a class; a value outside QoSClass's enumerators gets
  // the defaultClass queue. The queues live as long as the pool. Empty blocks
  // are ignored; delays follow dispatchDueTime.
  DispatchQueue& queue(QoSClass qos);

  // Lets running blocks finish and joins the workers. Idempotent.
  void stopWorkers();
  // Destroys every block that has not started, unrun and unlocked. True when
  // there was any (a destroyed block may have submitted more: call again).
  bool discardPending();

  std::size_t workerCount() const { return workers_.size(); }
  // max(2, hardware threads): the host's background work is mostly waiting.
  static std::size_t defaultWorkerCount();

 private:
  class Queue final : public DispatchQueue {
   public:
    Queue(WorkerPool& owner, std::size_t qosIndex) : owner_(owner), qosIndex_(qosIndex) {}
    void async(DispatchBlock block) override;
    void asyncAfter(double seconds, DispatchBlock block) override;

   private:
    WorkerPool& owner_;
    std::size_t qosIndex_;
  };

  void submit(std::size_t qosIndex, DispatchClock::time_point due, DispatchBlock block);
  void promoteDueTimers(DispatchClock::time_point current);  // mutex_ held.
  void workerLoop();

  std::mutex mutex_;
  std::condition_variable wake_;
  TimedBlockHeap timers_;  // Not yet due; tagged with their class.
  std::array<std::deque<DispatchBlock>, kQoSClassCount> ready_;  // Due, by class.
  std::size_t readyCount_ = 0;
  bool stopping_ = false;

  std::array<Queue, kQoSClassCount> queues_{{
      Queue{*this, 0},
      Queue{*this, 1},
      Queue{*this, 2},
      Queue{*this, 3},
      Queue{*this, 4},
  }};

  // Last, so every member a worker touches exists before the first one starts.
  std::vector<std::thread> workers_;
};

}  // namespace lumivane::platform
