#pragma once

#include <xcb/xcb.h>

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <utility>

#include "platform/x11/x11_selection.h"

namespace lumivane::platform::x11 {

// The clipboard's own thread: an event loop over one SelectionWindow that
// also runs what other threads hand it. Other clients must be served while
// the host waits for anything, so the loop never waits for another thread;
// those threads wait for it instead (call()).
class ClipboardThread {
 public:
  // What the loop drives; called on the loop's thread only.
  class Handler {
   public:
    virtual ~Handler() = default;
    // Each event the window receives, in the order the server sent them.
    virtual void dispatch(const xcb_generic_event_t& event) = 0;
    // Ends what was due by `now`; when something next falls due.
    virtual std::optional<SteadyClock::time_point> expire(SteadyClock::time_point now) = 0;
    // The loop is ending (stopped, or the connection has gone): ends what
    // is still under way.
    virtual void ending() = 0;
  };
  template <typename T>
  using Complete = std::function<void(T)>;

  ClipboardThread(SelectionWindow& window, Handler& handler);
  // Stops the loop.
  ~ClipboardThread();
  ClipboardThread(const ClipboardThread&) = delete;
  ClipboardThread& operator=(const ClipboardThread&) = delete;

  // Starts the loop; false when it cannot run.
  bool start();
  // Ends the loop and waits for it to end.
  void stop();

  // Runs `begin` on the loop and waits until it (or what it started) calls
  // its completion, once. `fallback` when the loop has stopped, and on the
  // loop's own thread, which would wait for itself.
  template <typename T>
  T call(T fallback, std::function<void(Complete<T>)> begin);

 private:
  // Run with `alive` false when the loop has ended before running it.
  using Task = std::function<void(bool alive)>;
  // False when the loop has ended.
  bool post(Task task);
  void wake();
  bool runTasks();
  void run();

  SelectionWindow& window_;
  Handler& handler_;
  UniqueFd wake_;
  std::thread thread_;
  // The loop's thread, kept apart from thread_, which stop() changes while
  // other threads may still ask.
  std::thread::id loopThread_;
  std::atomic<bool> stopping_{false};

  std::mutex tasksMutex_;
  std::deque<Task> tasks_;
  bool accepting_ = true;
};

template <typename T>
T ClipboardThread::call(T fallback, std::function<void(Complete<T>)> begin) {
  struct Waiter {
    std::mutex mutex;
    std::condition_variable done;
    std::optional<T> value;
  };
  if (std::this_thread::get_id() == loopThread_)
    return fallback;
  auto waiter = std::make_shared<Waiter>();
  Complete<T> complete = [waiter](T value) {
    std::lock_guard lock(waiter->mutex);
    if (waiter->value)
      return;
    waiter->value.emplace(std::move(value));
    waiter->done.notify_all();
  };
  const bool posted = post([begin = std::move(begin), complete, fallback](bool alive) mutable {
    if (alive)
      begin(complete);
    else
      complete(std::move(fallback));
  });
  if (!posted)
    return fallback;
  std::unique_lock lock(waiter->mutex);
  waiter->done.wait(lock, [&] { return waiter->value.has_value(); });
  return std::move(*waiter->value);
}

}  // namespace lumivane::platform::x11
