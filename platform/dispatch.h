#pragma once

#include <functional>

namespace lumivane::platform {

// A unit of work handed to a queue. Blocks own what they capture; a block that
// must not keep an object alive captures a std::weak_ptr to it.
using DispatchBlock = std::function<void()>;

// Quality-of-service classes of the global concurrent queues (GCD's
// QOS_CLASS_*). The host uses only userInitiated.
enum class QoSClass { userInteractive, userInitiated, defaultClass, utility, background };

// A dispatch queue (GCD's dispatch_queue_t).
class DispatchQueue {
 public:
  virtual ~DispatchQueue() = default;

  // Submits `block` to run later on this queue; never runs it before returning.
  // Any thread may call it. Blocks submitted to the main queue run on the main
  // thread one at a time in submission order (among those due at the same time).
  virtual void async(DispatchBlock block) = 0;

  // Submits `block` to run once on this queue, no earlier than `seconds` after
  // now (dispatch_after with DISPATCH_TIME_NOW + seconds). Any thread. A
  // negative or NaN delay counts as zero; a delay longer than the queue can
  // express (about thirty years, infinity included) never comes due: the block
  // is kept, unrun, until the queue goes, and never runs early.
  virtual void asyncAfter(double seconds, DispatchBlock block) = 0;
};

// Grand Central Dispatch's queues plus Foundation's thread sleep and clock.
class Dispatch {
 public:
  virtual ~Dispatch() = default;

  // The main queue (dispatch_get_main_queue). Lives as long as the desktop.
  virtual DispatchQueue& mainQueue() = 0;

  // The global concurrent queue of a QoS class (dispatch_get_global_queue).
  // Blocks on it run on worker threads, possibly several at once.
  virtual DispatchQueue& globalQueue(QoSClass qos) = 0;

  // Blocks the calling thread for `seconds` (NSThread sleepForTimeInterval:).
  // Called on the main thread it holds the main queue too: nothing submitted to
  // it runs until the sleep ends.
  virtual void sleepForTimeInterval(double seconds) = 0;

  // Monotonic time in seconds since an arbitrary origin fixed at start.
  virtual double now() const = 0;
};

}  // namespace lumivane::platform
