#pragma once

#include <glib.h>

#include <cstddef>
#include <mutex>
#include <thread>

#include "platform/dispatch.h"
#include "platform/threads/timed_blocks.h"
#include "platform/threads/worker_pool.h"

namespace lumivane::platform::gtk {

// Dispatch on the GTK main loop and a worker pool.
//
// Main queue: blocks run on the thread that iterates GLib's default main
// context (the GTK main thread, which constructs this object), one per turn of
// the loop, in (due time, submission order), interleaved with the desktop's
// events at the same priority. async() is due at once; asyncAfter() after its
// delay on the steady clock, and a delay of about thirty years or more never
// comes due. Any thread may submit; a submission wakes the loop.
//
// Global queues: a WorkerPool, as in ThreadedDispatch.
//
// Blocks are not expected to throw. Every block is destroyed exactly once,
// after running or unrun, with no internal lock held.
//
// Destruction: on the main thread, outside every block of this dispatch. Lets
// running worker blocks finish, joins the workers, and destroys every pending
// block, main and global, without running it.
class GLibDispatch final : public Dispatch {
 public:
  // A pool of WorkerPool::defaultWorkerCount() workers.
  GLibDispatch();
  explicit GLibDispatch(std::size_t workerCount);
  ~GLibDispatch() override;

  GLibDispatch(const GLibDispatch&) = delete;
  GLibDispatch& operator=(const GLibDispatch&) = delete;

  DispatchQueue& mainQueue() override;
  DispatchQueue& globalQueue(QoSClass qos) override;
  // Really sleeps; on the main thread it holds the main loop and its queue.
  void sleepForTimeInterval(double seconds) override;
  // Seconds on the steady clock since construction.
  double now() const override;

  // True on the thread that constructed this object, the one whose loop runs
  // the main queue.
  bool isMainThread() const { return std::this_thread::get_id() == mainThread_; }

  // Lets the global queues' running blocks finish and joins the workers;
  // blocks submitted from then on never run. For a desktop that is ending,
  // before it lets go of what those blocks use. Main thread, outside every
  // block of this dispatch; calling it again does nothing.
  void stopWorkers() { pool_.stopWorkers(); }

 private:
  using Clock = DispatchClock;
  struct Source;

  class MainQueue final : public DispatchQueue {
   public:
    explicit MainQueue(GLibDispatch& owner) : owner_(owner) {}
    void async(DispatchBlock block) override;
    void asyncAfter(double seconds, DispatchBlock block) override;

   private:
    GLibDispatch& owner_;
  };

  void submitMain(Clock::time_point due, DispatchBlock block);
  // The GSource's callbacks.
  bool prepare(gint* timeoutMilliseconds);
  bool check();
  void dispatchOne();
  bool discardMainPending();

  const Clock::time_point origin_;
  const std::thread::id mainThread_;

  std::mutex mutex_;
  TimedBlockHeap pending_;

  MainQueue mainQueue_{*this};
  GMainContext* context_;
  GSourceFuncs sourceFuncs_;
  GSource* source_ = nullptr;

  // Last, so every member a block touches exists before the first worker
  // starts.
  WorkerPool pool_;
};

}  // namespace lumivane::platform::gtk
