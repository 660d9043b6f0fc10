#pragma once

#include <condition_variable>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/dispatch.h"

namespace lumivane::platform::sim {

// Virtual time and deterministic dispatch for the simulated desktop.
//
// The thread that constructs the clock is the host's main thread. Everything
// scheduled runs at its virtual due time, in (due time, submission) order, and
// only while a test drives the clock with advance() or runUntilIdle(): nothing
// ever sleeps for real. Blocks on the global queues run on real worker threads,
// but one simulated thread runs at a time, handing a baton back and forth, so a
// run is the same every time and sleeps take no wall-clock time.
//
// Three kinds of work share the timeline:
//  - main-queue blocks and platform deliveries to the host (events, clicks,
//    notifications): run on the main thread, never while it sleeps;
//  - other processes' work (applications copying, pasting, writing the
//    pasteboard): runs whenever its time comes, also while the host's main
//    thread is blocked in a sleep;
//  - global-queue blocks and the wake-ups of sleeping workers.
class SimClock final : public Dispatch {
 public:
  SimClock();
  ~SimClock() override;
  SimClock(const SimClock&) = delete;
  SimClock& operator=(const SimClock&) = delete;

  // Dispatch.
  DispatchQueue& mainQueue() override;
  DispatchQueue& globalQueue(QoSClass qos) override;
  void sleepForTimeInterval(double seconds) override;
  double now() const override;
  bool isMainThread() const;
  // Now in whole microseconds.
  std::int64_t ticks() const;

  // Platform work delivered to the host on its main thread at virtual time
  // `at` (or now, if earlier).
  void scheduleOnMain(double at, DispatchBlock block);
  // Another process's work at virtual time `at` (or now, if earlier).
  void scheduleExternal(double at, DispatchBlock block);

  // Runs everything due within the next `seconds`, in order, then sets the
  // clock to now + seconds. Main thread only.
  void advance(double seconds);
  // Runs everything due now, including what that work schedules for now.
  void runUntilIdle();
  // Advances until nothing is scheduled at all, or `limit` seconds have passed.
  // True when the timeline emptied.
  bool advanceUntilEmpty(double limit = 3600);

  // Number of the main queue's scheduled entries.
  std::size_t pendingMainCount() const;
  // Global-queue blocks started and not yet finished (running or sleeping).
  std::size_t activeWorkerBlocks() const;
  // Largest number of global-queue blocks that were in flight at once.
  std::size_t peakWorkerBlocks() const;

 private:
  enum class Kind { main, external, workerStart, workerWake };
  struct Worker;
  struct Entry {
    Kind kind;
    DispatchBlock block;
    Worker* worker = nullptr;
  };
  class Queue;

  void push(std::int64_t due, Kind kind, DispatchBlock block, Worker* worker = nullptr);
  // Runs entries due no later than `until`; `mainBlocked` leaves main work for
  // later. Returns when none is left.
  void runDue(std::int64_t until, bool mainBlocked);
  // runDue, then the clock stands at `until` even if nothing was due then.
  void runUntil(std::int64_t until, bool mainBlocked);
  bool popNext(std::int64_t until, bool mainBlocked, Entry& out);
  void runOnWorker(Worker* worker);
  Worker* idleWorker();
  // The worker of this clock running the calling thread; null elsewhere.
  Worker* currentWorker();
  void workerLoop(Worker* worker);

  mutable std::mutex mutex_;
  std::condition_variable batonReturned_;
  bool batonWithWorker_ = false;
  // Virtual time in whole microseconds, so that ten 0.1 s sleeps make exactly
  // one second.
  std::int64_t now_ = 0;
  std::uint64_t seq_ = 0;
  std::map<std::pair<std::int64_t, std::uint64_t>, Entry> entries_;  // by (due, submission)
  std::vector<std::unique_ptr<Worker>> workers_;
  std::size_t activeWorkerBlocks_ = 0;
  std::size_t peakWorkerBlocks_ = 0;
  bool shuttingDown_ = false;
  std::thread::id mainThread_;
  std::unique_ptr<Queue> mainQueue_;
  std::unique_ptr<Queue> globalQueue_;
};

}  // namespace lumivane::platform::sim
