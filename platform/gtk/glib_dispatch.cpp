#include "platform/gtk/glib_dispatch.h"

#include <algorithm>
#include <climits>
#include <utility>
#include <vector>

namespace lumivane::platform::gtk {
// The main queue's GSource: GLib asks it when the earliest block falls due and
// runs one due block per turn of the loop.
struct GLibDispatch::Source {
  GSource base;  // First, as GLib requires.
  GLibDispatch* owner;
};

void GLibDispatch::MainQueue::async(DispatchBlock block) {
  owner_.submitMain(Clock::now(), std::move(block));
}

void GLibDispatch::MainQueue::asyncAfter(double seconds, DispatchBlock block) {
  owner_.submitMain(dispatchDueTime(Clock::now(), seconds), std::move(block));
}

GLibDispatch::GLibDispatch() : GLibDispatch(WorkerPool::defaultWorkerCount()) {}

GLibDispatch::GLibDispatch(std::size_t workerCount)
    : origin_(Clock::now()),
      mainThread_(std::this_thread::get_id()),
      context_(g_main_context_ref(g_main_context_default())),
      sourceFuncs_{},
      pool_(workerCount) {
  sourceFuncs_.prepare = [](GSource* source, gint* timeout) -> gboolean {
    return reinterpret_cast<Source*>(source)->owner->prepare(timeout);
  };
  sourceFuncs_.check = [](GSource* source) -> gboolean {
    return reinterpret_cast<Source*>(source)->owner->check();
  };
  sourceFuncs_.dispatch = [](GSource* source, GSourceFunc, gpointer) -> gboolean {
    reinterpret_cast<Source*>(source)->owner->dispatchOne();
    return G_SOURCE_CONTINUE;
  };
  source_ = g_source_new(&sourceFuncs_, sizeof(Source));
  reinterpret_cast<Source*>(source_)->owner = this;
  g_source_set_priority(source_, G_PRIORITY_DEFAULT);
  g_source_set_name(source_, "lumivane main queue");
  g_source_attach(source_, context_);
}

GLibDispatch::~GLibDispatch() {
  // Nothing runs on the main thread from here on.
  g_source_destroy(source_);
  g_source_unref(source_);
  pool_.stopWorkers();
  // Destroying a block may submit another (a capture's destructor posting its
  // last word), so discard both kinds until both stay empty.
  for (;;) {
    const bool main = discardMainPending();
    const bool global = pool_.discardPending();
    if (!main && !global) {
      break;
    }
  }
  g_main_context_unref(context_);
}

bool GLibDispatch::discardMainPending() {
  std::vector<TimedBlock> discarded;
  {
    std::lock_guard lock(mutex_);
    discarded = pending_.takeAll();
  }
  return !discarded.empty();  // Destroyed here, with no lock held.
}

DispatchQueue& GLibDispatch::mainQueue() {
  return mainQueue_;
}

DispatchQueue& GLibDispatch::globalQueue(QoSClass qos) {
  return pool_.queue(qos);
}

void GLibDispatch::sleepForTimeInterval(double seconds) {
  const auto current = Clock::now();
  const auto until = dispatchDueTime(current, seconds);
  if (until > current) {
    std::this_thread::sleep_until(until);
  }
}

double GLibDispatch::now() const {
  return std::chrono::duration<double>(Clock::now() - origin_).count();
}

void GLibDispatch::submitMain(Clock::time_point due, DispatchBlock block) {
  if (!block) {
    return;
  }
  std::lock_guard lock(mutex_);
  pending_.push(due, std::move(block));
  // Under the lock: once the loop may see the block, the submitter no longer
  // touches this object. Waking takes no lock of GLib's.
  g_main_context_wakeup(context_);
}

bool GLibDispatch::prepare(gint* timeoutMilliseconds) {
  std::lock_guard lock(mutex_);
  *timeoutMilliseconds = -1;
  if (pending_.empty() || !comesDue(pending_.earliest().due)) {
    return false;
  }
  const auto wait = pending_.earliest().due - Clock::now();
  if (wait <= Clock::duration::zero()) {
    *timeoutMilliseconds = 0;
    return true;
  }
  // Rounded up: waking early only costs another turn, but check() would say
  // "not yet" and the loop would spin until the block is due.
  const auto milliseconds = std::chrono::ceil<std::chrono::milliseconds>(wait).count();
  *timeoutMilliseconds = static_cast<gint>(std::min<std::int64_t>(milliseconds, INT_MAX));
  return false;
}

bool GLibDispatch::check() {
  std::lock_guard lock(mutex_);
  return !pending_.empty() && pending_.earliest().due <= Clock::now();
}

void GLibDispatch::dispatchOne() {
  DispatchBlock block;
  {
    std::lock_guard lock(mutex_);
    if (pending_.empty() || pending_.earliest().due > Clock::now()) {
      return;
    }
    block = pending_.popEarliest().block;
  }
  block();
  // `block` and its captures die here, with no lock held.
}

}  // namespace lumivane::platform::gtk
