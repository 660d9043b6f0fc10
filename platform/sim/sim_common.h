#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace lumivane::platform::sim {

class SimClock;

// What the simulated desktop reports to a headless run: the effects a user
// would notice, one line each.
enum class TraceKind {
  windowShown,
  windowHidden,
  keyEventPosted,
  appActivated,
  textInserted,
  accessibilityPrompt,
  standardOutputLine,
  pasteboardChanged,
  // Start-up and the host's hold on the system, so a headless run can tell
  // them as they happen.
  viewControllerCreated,
  pluginRegistered,
  windowCreated,
  statusItemCreated,
  menuOpened,
  hotKeyRegistered,
  hotKeyUnregistered,
  hotKeyPressed,
  // Someone started observing a notification.
  observerAdded,
};

const char* toString(TraceKind kind);

struct TraceEvent {
  double time = 0;
  TraceKind kind = TraceKind::windowShown;
  // Named values in a fixed order per kind, for example {"keyCode", "9"}.
  std::vector<std::pair<std::string, std::string>> fields;

  std::optional<std::string> field(const std::string& name) const;
};

// "0.300 keyEventPosted keyCode=9 down=true flags=0x100000 to=hid".
std::string formatTraceEvent(const TraceEvent& event);

// Fans trace events out to one listener. Events come from whichever simulated
// thread caused them; the clock runs one at a time, so the listener sees them
// in timeline order.
class SimTrace {
 public:
  explicit SimTrace(const SimClock& clock) : clock_(clock) {}
  void setListener(std::function<void(const TraceEvent&)> listener);
  void emit(TraceKind kind, std::vector<std::pair<std::string, std::string>> fields);

 private:
  const SimClock& clock_;
  std::mutex mutex_;
  std::shared_ptr<const std::function<void(const TraceEvent&)>> listener_;
};

// Platform objects still alive, for leak checks at the end of a test.
struct LiveObjects {
  std::size_t events = 0;
  std::size_t eventSources = 0;
  std::size_t pasteboardItems = 0;
  std::size_t menus = 0;
  std::size_t menuItems = 0;

  bool none() const {
    return events == 0 && eventSources == 0 && pasteboardItems == 0 && menus == 0 && menuItems == 0;
  }
  std::string describe() const;
  friend bool operator==(const LiveObjects&, const LiveObjects&) = default;
};

// Counters shared by the objects themselves, so an object that outlives the
// desktop can still count itself out.
struct LiveCounters {
  std::atomic<std::size_t> events{0};
  std::atomic<std::size_t> eventSources{0};
  std::atomic<std::size_t> pasteboardItems{0};
  std::atomic<std::size_t> menus{0};
  std::atomic<std::size_t> menuItems{0};

  LiveObjects snapshot() const;
};

// Counts one object in for as long as the token lives.
class LiveToken {
 public:
  using Counter = std::atomic<std::size_t> LiveCounters::*;
  LiveToken(std::shared_ptr<LiveCounters> counters, Counter counter);
  ~LiveToken();
  LiveToken(const LiveToken&) = delete;
  LiveToken& operator=(const LiveToken&) = delete;

 private:
  std::shared_ptr<LiveCounters> counters_;
  Counter counter_;
};

// Calls the real platform would not survive (a Carbon or Core Graphics handle
// given back twice, a main-thread-only object touched from a worker, an API
// used on a system too old for it). The sim records them instead of crashing
// so a test can assert there were none.
class MisuseLog {
 public:
  explicit MisuseLog(const SimClock& clock) : clock_(clock) {}
  void record(std::string what);
  // Records `operation` when the caller is not on the main thread.
  void requireMainThread(const char* operation);
  std::vector<std::string> entries() const;
  void clear();

 private:
  const SimClock& clock_;
  mutable std::mutex mutex_;
  std::vector<std::string> entries_;
};

// Shortest decimal form of a number of points or seconds ("600", "0.3").
std::string formatNumber(double value);
std::string formatHex(std::uint64_t value);
inline const char* formatBool(bool value) {
  return value ? "true" : "false";
}

}  // namespace lumivane::platform::sim
