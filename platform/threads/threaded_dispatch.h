#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <mutex>
#include <thread>

#include "platform/dispatch.h"
#include "platform/threads/timed_blocks.h"
#include "platform/threads/worker_pool.h"

namespace lumivane::platform {

// Dispatch on real threads: a main run loop driven by whichever thread calls
// runMainLoop(), and one pool of worker threads behind every global queue.
//
// Main queue: blocks run one at a time on the main thread, ordered by (due
// time, submission order). async() is due at once, asyncAfter() after its delay
// on the steady clock. Blocks run only while runMainLoop() or
// runMainLoopUntilIdle() is running; submitted at other times they wait.
//
// Global queues: one per QoS class, all served by one WorkerPool, created at
// construction. When more blocks are due than workers are free, blocks of a
// higher class start first; within a class they start in (due time,
// submission order). Several may run at once.
//
// Blocks are not expected to throw. One that throws on the main thread
// propagates out of the run call, which leaves the loop ready to run again; one
// that throws on a worker ends the process (std::terminate), as an uncaught
// exception in a GCD block does. Swallowing it would hide the fault.
//
// Every block is destroyed exactly once, after running or unrun, and always
// with no internal lock held, so a capture's destructor may submit more work.
//
// Destruction: stop the main loop and let runMainLoop() return first. The
// destructor lets running blocks finish, joins the workers, and destroys every
// pending block (main and global) without running it. It must not run on one
// of this object's workers, nor inside one of its blocks.
class ThreadedDispatch final : public Dispatch {
 public:
  // A pool of defaultWorkerCount() workers.
  ThreadedDispatch();
  // A pool of `workerCount` workers (at least one).
  explicit ThreadedDispatch(std::size_t workerCount);
  ~ThreadedDispatch() override;

  ThreadedDispatch(const ThreadedDispatch&) = delete;
  ThreadedDispatch& operator=(const ThreadedDispatch&) = delete;

  // The queues live as long as this object. Submitting an empty block does
  // nothing. Delays that are negative or NaN count as zero; one of about
  // thirty years or more never comes due (dispatchDueTime).
  DispatchQueue& mainQueue() override;
  // A QoS value outside QoSClass's enumerators gets the defaultClass queue.
  DispatchQueue& globalQueue(QoSClass qos) override;

  // std::this_thread::sleep_for; on the main thread it holds the main queue.
  void sleepForTimeInterval(double seconds) override;
  // Seconds on the steady clock since construction.
  double now() const override;
  // True on the thread that runs (or last ran) the main loop. Before any loop
  // has run, the constructing thread counts as main, as the process's first
  // thread does before it enters its run loop.
  bool isMainThread() const;

  // Runs main-queue blocks on the calling thread, which becomes the main
  // thread, as they fall due, until stopMainLoop(). Blocks still pending when
  // it stops are destroyed without running: a stopped application does no more
  // work. Not re-entrant: if the loop is already running, returns at once.
  void runMainLoop();

  // Ends the running loop after its current block. Any thread, or a block. A
  // stop requested while no loop runs ends the next run as soon as it starts,
  // so a stop that races a starting loop is never lost.
  void stopMainLoop();

  // Like runMainLoop(), but returns when the main queue is empty (true), or
  // after `timeoutSeconds` with blocks still pending, or when stopped (false).
  // Waits for pending asyncAfter blocks to fall due. Blocks left pending by a
  // timeout stay queued; a stop discards them as runMainLoop() does. Blocks a
  // worker has not yet submitted do not count: idle is only the main queue.
  bool runMainLoopUntilIdle(double timeoutSeconds);

  std::size_t workerCount() const { return pool_.workerCount(); }
  // max(2, hardware threads): the host's background work is mostly waiting.
  static std::size_t defaultWorkerCount() { return WorkerPool::defaultWorkerCount(); }

 private:
  using Clock = DispatchClock;

  class MainQueue final : public DispatchQueue {
   public:
    explicit MainQueue(ThreadedDispatch& owner) : owner_(owner) {}
    void async(DispatchBlock block) override;
    void asyncAfter(double seconds, DispatchBlock block) override;

   private:
    ThreadedDispatch& owner_;
  };

  void submitMain(Clock::time_point due, DispatchBlock block);
  bool runMain(bool untilIdle, Clock::time_point deadline);
  bool discardMainPending();

  const Clock::time_point origin_;
  std::atomic<std::thread::id> mainThread_;

  std::mutex mainMutex_;
  std::condition_variable mainWake_;
  TimedBlockHeap mainPending_;
  bool mainRunning_ = false;
  bool mainStopRequested_ = false;

  MainQueue mainQueue_{*this};

  // Last, so every member a block touches exists before the first worker
  // starts.
  WorkerPool pool_;
};

}  // namespace lumivane::platform
