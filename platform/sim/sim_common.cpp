#include "platform/sim/sim_common.h"

#include <cstdio>
#include <sstream>

#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

const char* toString(TraceKind kind) {
  switch (kind) {
    case TraceKind::windowShown:
      return "windowShown";
    case TraceKind::windowHidden:
      return "windowHidden";
    case TraceKind::keyEventPosted:
      return "keyEventPosted";
    case TraceKind::appActivated:
      return "appActivated";
    case TraceKind::textInserted:
      return "textInserted";
    case TraceKind::accessibilityPrompt:
      return "accessibilityPrompt";
    case TraceKind::standardOutputLine:
      return "standardOutputLine";
    case TraceKind::pasteboardChanged:
      return "pasteboardChanged";
    case TraceKind::viewControllerCreated:
      return "viewControllerCreated";
    case TraceKind::pluginRegistered:
      return "pluginRegistered";
    case TraceKind::windowCreated:
      return "windowCreated";
    case TraceKind::statusItemCreated:
      return "statusItemCreated";
    case TraceKind::menuOpened:
      return "menuOpened";
    case TraceKind::hotKeyRegistered:
      return "hotKeyRegistered";
    case TraceKind::hotKeyUnregistered:
      return "hotKeyUnregistered";
    case TraceKind::hotKeyPressed:
      return "hotKeyPressed";
    case TraceKind::observerAdded:
      return "observerAdded";
  }
  return "unknown";
}

std::optional<std::string> TraceEvent::field(const std::string& name) const {
  for (const auto& [key, value] : fields) {
    if (key == name) {
      return value;
    }
  }
  return std::nullopt;
}

std::string formatTraceEvent(const TraceEvent& event) {
  char time[32];
  std::snprintf(time, sizeof time, "%.3f", event.time);
  std::string line = time;
  line += ' ';
  line += toString(event.kind);
  for (const auto& [key, value] : event.fields) {
    line += ' ';
    line += key;
    line += '=';
    line += value;
  }
  return line;
}

void SimTrace::setListener(std::function<void(const TraceEvent&)> listener) {
  std::lock_guard lock(mutex_);
  listener_ =
      listener ? std::make_shared<const std::function<void(const TraceEvent&)>>(std::move(listener))
               : nullptr;
}

void SimTrace::emit(TraceKind kind, std::vector<std::pair<std::string, std::string>> fields) {
  std::shared_ptr<const std::function<void(const TraceEvent&)>> listener;
  {
    std::lock_guard lock(mutex_);
    listener = listener_;
  }
  if (!listener) {
    return;
  }
  // Called outside the lock: a listener may well look at the desktop.
  (*listener)(TraceEvent{clock_.now(), kind, std::move(fields)});
}

std::string LiveObjects::describe() const {
  std::ostringstream out;
  out << "events=" << events << " eventSources=" << eventSources
      << " pasteboardItems=" << pasteboardItems << " menus=" << menus << " menuItems=" << menuItems;
  return out.str();
}

LiveObjects LiveCounters::snapshot() const {
  return LiveObjects{events.load(), eventSources.load(), pasteboardItems.load(), menus.load(),
                     menuItems.load()};
}

LiveToken::LiveToken(std::shared_ptr<LiveCounters> counters, Counter counter)
    : counters_(std::move(counters)), counter_(counter) {
  ((*counters_).*counter_).fetch_add(1);
}

LiveToken::~LiveToken() {
  ((*counters_).*counter_).fetch_sub(1);
}

void MisuseLog::record(std::string what) {
  std::lock_guard lock(mutex_);
  entries_.push_back(std::move(what));
}

void MisuseLog::requireMainThread(const char* operation) {
  if (!clock_.isMainThread()) {
    record(std::string(operation) + " called off the main thread");
  }
}

std::vector<std::string> MisuseLog::entries() const {
  std::lock_guard lock(mutex_);
  return entries_;
}

void MisuseLog::clear() {
  std::lock_guard lock(mutex_);
  entries_.clear();
}

std::string formatNumber(double value) {
  std::ostringstream out;
  out.precision(10);
  out << value;
  return out.str();
}

std::string formatHex(std::uint64_t value) {
  std::ostringstream out;
  out << "0x" << std::hex << value;
  return out.str();
}

}  // namespace lumivane::platform::sim
