#include "platform/sim/sim_clock.h"

#include <algorithm>
#include <cmath>
#include <utility>

namespace lumivane::platform::sim {

// A real thread that runs global-queue blocks, one block at a time, only while
// it holds the baton.
struct SimClock::Worker {
  std::thread thread;
  std::condition_variable wake;
  bool hasBaton = false;
  bool busy = false;  // a block is in flight: running or asleep
  bool exit = false;
  DispatchBlock block;
};

namespace {

// About thirty years: delays beyond it (infinity included) never come due.
constexpr std::int64_t kNeverTicks = std::int64_t{30} * 365 * 24 * 3600 * 1000000;

std::int64_t toTicks(double seconds) {
  return std::llround(seconds * 1e6);
}

// A delay from now in whole microseconds: negative and NaN count as zero, and
// one too long to express is kept out of reach rather than wrapping around.
std::int64_t delayTicks(double seconds) {
  if (!(seconds > 0))
    return 0;
  if (seconds >= static_cast<double>(kNeverTicks) / 1e6)
    return kNeverTicks;
  return toTicks(seconds);
}
double toSeconds(std::int64_t ticks) {
  return static_cast<double>(ticks) / 1e6;
}
}  // namespace

// The main queue (blocks run on the main thread) or the global queue (blocks
// start on a worker).
class SimClock::Queue final : public DispatchQueue {
 public:
  Queue(SimClock& clock, Kind kind) : clock_(clock), kind_(kind) {}
  void async(DispatchBlock block) override { clock_.push(clock_.ticks(), kind_, std::move(block)); }
  void asyncAfter(double seconds, DispatchBlock block) override {
    clock_.push(clock_.ticks() + delayTicks(seconds), kind_, std::move(block));
  }

 private:
  SimClock& clock_;
  const Kind kind_;
};

SimClock::SimClock()
    : mainThread_(std::this_thread::get_id()),
      mainQueue_(std::make_unique<Queue>(*this, Kind::main)),
      globalQueue_(std::make_unique<Queue>(*this, Kind::workerStart)) {}

SimClock::~SimClock() {
  // The process is ending: main-queue and other work that has not run is
  // dropped, but blocks already running on workers are carried to their end
  // (their sleeps still pass in virtual time) so no thread is left blocked.
  std::vector<DispatchBlock> dropped;
  for (;;) {
    Entry next;
    {
      std::unique_lock lock(mutex_);
      shuttingDown_ = true;
      auto it = std::find_if(entries_.begin(), entries_.end(),
                             [](const auto& e) { return e.second.kind == Kind::workerWake; });
      if (it == entries_.end()) {
        for (auto& [key, entry] : entries_)
          dropped.push_back(std::move(entry.block));
        entries_.clear();
        break;
      }
      now_ = std::max(now_, it->first.first);
      next = std::move(it->second);
      entries_.erase(it);
    }
    runOnWorker(next.worker);
  }
  dropped.clear();
  {
    std::lock_guard lock(mutex_);
    for (auto& worker : workers_) {
      worker->exit = true;
      worker->wake.notify_one();
    }
  }
  for (auto& worker : workers_)
    worker->thread.join();
}

DispatchQueue& SimClock::mainQueue() {
  return *mainQueue_;
}

DispatchQueue& SimClock::globalQueue(QoSClass) {
  return *globalQueue_;
}

double SimClock::now() const {
  return toSeconds(ticks());
}

std::int64_t SimClock::ticks() const {
  std::lock_guard lock(mutex_);
  return now_;
}

bool SimClock::isMainThread() const {
  return std::this_thread::get_id() == mainThread_;
}

void SimClock::scheduleOnMain(double at, DispatchBlock block) {
  push(toTicks(at), Kind::main, std::move(block));
}

void SimClock::scheduleExternal(double at, DispatchBlock block) {
  push(toTicks(at), Kind::external, std::move(block));
}

void SimClock::push(std::int64_t due, Kind kind, DispatchBlock block, Worker* worker) {
  std::lock_guard lock(mutex_);
  if (shuttingDown_ && kind != Kind::workerWake)
    return;
  Entry entry;
  entry.kind = kind;
  entry.block = std::move(block);
  entry.worker = worker;
  entries_.emplace(std::make_pair(std::max(due, now_), seq_++), std::move(entry));
}

void SimClock::sleepForTimeInterval(double seconds) {
  if (auto* worker = currentWorker()) {
    // Give the baton back and wait until the clock reaches our wake-up time.
    std::unique_lock lock(mutex_);
    Entry entry;
    entry.kind = Kind::workerWake;
    entry.worker = worker;
    entries_.emplace(std::make_pair(now_ + delayTicks(seconds), seq_++), std::move(entry));
    worker->hasBaton = false;
    batonWithWorker_ = false;
    batonReturned_.notify_all();
    worker->wake.wait(lock, [worker] { return worker->hasBaton; });
    return;
  }
  if (!isMainThread())
    return;  // only simulated threads take part in virtual time
  // The main thread is blocked: the rest of the desktop goes on, the main
  // queue waits.
  runUntil(ticks() + delayTicks(seconds), /*mainBlocked=*/true);
}

bool SimClock::popNext(std::int64_t until, bool mainBlocked, Entry& out) {
  std::lock_guard lock(mutex_);
  for (auto it = entries_.begin(); it != entries_.end() && it->first.first <= until; ++it) {
    if (mainBlocked && it->second.kind == Kind::main)
      continue;
    now_ = std::max(now_, it->first.first);
    out = std::move(it->second);
    entries_.erase(it);
    return true;
  }
  return false;
}

void SimClock::runDue(std::int64_t until, bool mainBlocked) {
  Entry entry;
  while (popNext(until, mainBlocked, entry)) {
    switch (entry.kind) {
      case Kind::main:
      case Kind::external:
        entry.block();
        break;
      case Kind::workerStart: {
        Worker* worker = idleWorker();
        {
          std::lock_guard lock(mutex_);
          worker->block = std::move(entry.block);
          worker->busy = true;
          ++activeWorkerBlocks_;
          peakWorkerBlocks_ = std::max(peakWorkerBlocks_, activeWorkerBlocks_);
        }
        runOnWorker(worker);
        break;
      }
      case Kind::workerWake:
        runOnWorker(entry.worker);
        break;
    }
    entry.block = nullptr;  // destroyed here, outside the lock
  }
}

void SimClock::runUntil(std::int64_t until, bool mainBlocked) {
  runDue(until, mainBlocked);
  std::lock_guard lock(mutex_);
  now_ = std::max(now_, until);
}

void SimClock::runOnWorker(Worker* worker) {
  std::unique_lock lock(mutex_);
  worker->hasBaton = true;
  batonWithWorker_ = true;
  worker->wake.notify_one();
  batonReturned_.wait(lock, [this] { return !batonWithWorker_; });
}

SimClock::Worker* SimClock::idleWorker() {
  std::lock_guard lock(mutex_);
  for (auto& worker : workers_) {
    if (!worker->busy)
      return worker.get();
  }
  auto worker = std::make_unique<Worker>();
  Worker* raw = worker.get();
  workers_.push_back(std::move(worker));
  raw->thread = std::thread([this, raw] { workerLoop(raw); });
  return raw;
}

SimClock::Worker* SimClock::currentWorker() {
  std::lock_guard lock(mutex_);
  const auto self = std::this_thread::get_id();
  for (auto& worker : workers_) {
    if (worker->thread.get_id() == self)
      return worker.get();
  }
  return nullptr;
}

void SimClock::workerLoop(Worker* worker) {
  std::unique_lock lock(mutex_);
  for (;;) {
    worker->wake.wait(lock,
                      [worker] { return worker->exit || (worker->hasBaton && worker->block); });
    if (worker->exit)
      return;
    DispatchBlock block = std::move(worker->block);
    worker->block = nullptr;
    lock.unlock();
    block();
    block = nullptr;
    lock.lock();
    worker->busy = false;
    --activeWorkerBlocks_;
    worker->hasBaton = false;
    batonWithWorker_ = false;
    batonReturned_.notify_all();
  }
}

void SimClock::advance(double seconds) {
  runUntil(ticks() + delayTicks(seconds), /*mainBlocked=*/false);
}

void SimClock::runUntilIdle() {
  runDue(ticks(), /*mainBlocked=*/false);
}

bool SimClock::advanceUntilEmpty(double limit) {
  const std::int64_t stop = ticks() + toTicks(limit);
  for (;;) {
    std::int64_t next;
    {
      std::lock_guard lock(mutex_);
      if (entries_.empty())
        return true;
      next = entries_.begin()->first.first;
    }
    if (next > stop) {
      runUntil(stop, /*mainBlocked=*/false);
      return false;
    }
    runDue(next, /*mainBlocked=*/false);
  }
}

std::size_t SimClock::pendingMainCount() const {
  std::lock_guard lock(mutex_);
  return static_cast<std::size_t>(std::count_if(
      entries_.begin(), entries_.end(), [](const auto& e) { return e.second.kind == Kind::main; }));
}

std::size_t SimClock::activeWorkerBlocks() const {
  std::lock_guard lock(mutex_);
  return activeWorkerBlocks_;
}

std::size_t SimClock::peakWorkerBlocks() const {
  std::lock_guard lock(mutex_);
  return peakWorkerBlocks_;
}

}  // namespace lumivane::platform::sim
