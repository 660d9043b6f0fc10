#pragma once

#include <algorithm>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <utility>
#include <vector>

#include "platform/dispatch.h"

namespace lumivane::platform {

// The clock every real-thread queue keeps its due times on.
using DispatchClock = std::chrono::steady_clock;

// About thirty years: a delay at least this long never comes due.
inline constexpr double kNeverDueSeconds = 30.0 * 365 * 24 * 3600;

// When a block submitted at `now` with a delay of `seconds` falls due. Negative
// and NaN delays count as zero. A delay of kNeverDueSeconds or more, infinity
// included, gives the clock's last instant, which no reading of the clock
// reaches: the block waits, unrun, until its queue goes. Other delays are
// rounded up to the clock's tick, so a block never falls due early.
inline DispatchClock::time_point dispatchDueTime(DispatchClock::time_point now, double seconds) {
  if (!(seconds > 0.0)) {  // Also catches NaN.
    return now;
  }
  if (seconds >= kNeverDueSeconds) {
    return DispatchClock::time_point::max();
  }
  return now + std::chrono::ceil<DispatchClock::duration>(std::chrono::duration<double>(seconds));
}

inline bool comesDue(DispatchClock::time_point due) {
  return due != DispatchClock::time_point::max();
}

// A block waiting on a queue.
struct TimedBlock {
  DispatchClock::time_point due;
  std::uint64_t sequence = 0;
  std::size_t tag = 0;  // What the queue needs to know besides (a QoS class).
  DispatchBlock block;
};

// Blocks ordered by (due time, submission order), earliest first: a min-heap
// whose submission order is the order of push calls. Not locked: its owner
// guards it.
class TimedBlockHeap {
 public:
  void push(DispatchClock::time_point due, DispatchBlock block, std::size_t tag = 0) {
    heap_.push_back(TimedBlock{due, nextSequence_++, tag, std::move(block)});
    std::push_heap(heap_.begin(), heap_.end(), comesAfter);
  }

  bool empty() const { return heap_.empty(); }
  std::size_t size() const { return heap_.size(); }
  // The earliest block; the heap must not be empty.
  const TimedBlock& earliest() const { return heap_.front(); }
  // The order the next push gets: blocks with a smaller one were there before.
  std::uint64_t nextSequence() const { return nextSequence_; }

  TimedBlock popEarliest() {
    std::pop_heap(heap_.begin(), heap_.end(), comesAfter);
    TimedBlock timed = std::move(heap_.back());
    heap_.pop_back();
    return timed;
  }

  // Everything, leaving the heap empty; submission order carries on.
  std::vector<TimedBlock> takeAll() { return std::exchange(heap_, {}); }

 private:
  // Heap order for the std heap algorithms: "a comes after b", which puts the
  // earliest (due, sequence) at the front.
  static bool comesAfter(const TimedBlock& a, const TimedBlock& b) {
    if (a.due != b.due) {
      return a.due > b.due;
    }
    return a.sequence > b.sequence;
  }

  std::vector<TimedBlock> heap_;
  std::uint64_t nextSequence_ = 0;
};

}  // namespace lumivane::platform
