#include "platform/sim/sim_keyboard_events.h"

#include <utility>

#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_system.h"
#include "platform/sim/sim_workspace.h"

namespace lumivane::platform::sim {

struct SimKeyboardEvents::Source {
  Source(std::shared_ptr<LiveCounters> live, CGEventSourceStateID state)
      : live(std::move(live), &LiveCounters::eventSources), state(state) {}
  LiveToken live;
  CGEventSourceStateID state;
};

struct SimKeyboardEvents::Event {
  Event(std::shared_ptr<LiveCounters> live,
        CGKeyCode keyCode,
        bool keyDown,
        CGEventFlags flags,
        std::optional<CGEventSourceStateID> sourceState)
      : live(std::move(live), &LiveCounters::events),
        keyCode(keyCode),
        keyDown(keyDown),
        flags(flags),
        sourceState(sourceState) {}
  LiveToken live;
  CGKeyCode keyCode;
  bool keyDown;
  CGEventFlags flags;
  std::optional<CGEventSourceStateID> sourceState;
};

SimKeyboardEvents::SimKeyboardEvents(SimClock& clock,
                                     SimTrace& trace,
                                     MisuseLog& misuse,
                                     std::shared_ptr<LiveCounters> live,
                                     SimWorkspace& workspace,
                                     SimAccessibility& accessibility)
    : clock_(clock),
      trace_(trace),
      misuse_(misuse),
      live_(std::move(live)),
      workspace_(workspace),
      accessibility_(accessibility) {}

SimKeyboardEvents::~SimKeyboardEvents() = default;

CGEventSourceRef SimKeyboardEvents::CGEventSourceCreate(CGEventSourceStateID state) {
  std::lock_guard lock(mutex_);
  if (refuseSource_) {
    return nullptr;
  }
  auto source = std::make_unique<Source>(live_, state);
  const void* key = source.get();
  released_.erase(key);
  sources_.emplace(key, std::move(source));
  return reinterpret_cast<CGEventSourceRef>(const_cast<void*>(key));
}

CGEventRef SimKeyboardEvents::CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                                         CGKeyCode virtualKey,
                                                         bool keyDown) {
  std::lock_guard lock(mutex_);
  if ((keyDown && refuseKeyDown_) || (!keyDown && refuseKeyUp_)) {
    return nullptr;
  }
  // An event takes the modifier state its source follows: a private source
  // starts with none held, any other (or none at all) with what the user is
  // holding right now.
  CGEventFlags flags = heldModifiers_;
  std::optional<CGEventSourceStateID> sourceState;
  if (source) {
    auto it = sources_.find(source);
    if (it == sources_.end()) {
      handleErrorLocked("CGEventCreateKeyboardEvent with a source that is not alive");
    } else {
      sourceState = it->second->state;
      if (it->second->state == CGEventSourceStateID::privateState)
        flags = 0;
    }
  }
  auto event = std::make_unique<Event>(live_, virtualKey, keyDown, flags, sourceState);
  const void* key = event.get();
  released_.erase(key);
  events_.emplace(key, std::move(event));
  return reinterpret_cast<CGEventRef>(const_cast<void*>(key));
}

SimKeyboardEvents::Event* SimKeyboardEvents::findEvent(CGEventRef event, const char* operation) {
  auto it = events_.find(event);
  if (it == events_.end()) {
    handleErrorLocked(std::string(operation) + (released_.count(event)
                                                    ? " on a released event"
                                                    : " on an event that was never created"));
    return nullptr;
  }
  return it->second.get();
}

void SimKeyboardEvents::CGEventSetFlags(CGEventRef event, CGEventFlags flags) {
  std::lock_guard lock(mutex_);
  if (auto* e = findEvent(event, "CGEventSetFlags")) {
    e->flags = flags;
  }
}

CGEventFlags SimKeyboardEvents::CGEventGetFlags(CGEventRef event) {
  std::lock_guard lock(mutex_);
  auto* e = findEvent(event, "CGEventGetFlags");
  return e ? e->flags : 0;
}

void SimKeyboardEvents::CGEventPostToPid(pid_t pid, CGEventRef event) {
  post(event, pid, std::nullopt, "CGEventPostToPid");
}

void SimKeyboardEvents::CGEventPost(CGEventTapLocation tap, CGEventRef event) {
  post(event, std::nullopt, tap, "CGEventPost");
}

void SimKeyboardEvents::post(CGEventRef event,
                             std::optional<pid_t> pid,
                             std::optional<CGEventTapLocation> tap,
                             const char* operation) {
  PostedKeyEvent record;
  {
    std::lock_guard lock(mutex_);
    const Event* e = findEvent(event, operation);
    if (!e) {
      return;
    }
    record = PostedKeyEvent{clock_.now(), e->keyCode, e->keyDown,   e->flags,
                            pid,          tap,        std::nullopt, e->sourceState};
  }
  // Events from a process the user has not trusted for Accessibility are
  // filtered out by the system without a word.
  if (accessibility_.isTrusted()) {
    record.deliveredTo =
        workspace_.deliverKeyEvent(pid, record.keyCode, record.keyDown, record.flags);
  }
  {
    std::lock_guard lock(mutex_);
    posted_.push_back(record);
  }
  std::string to;
  if (pid) {
    to = "pid:" + std::to_string(*pid);
  } else if (tap == CGEventTapLocation::hidEventTap) {
    to = "hid";
  } else {
    to = "session";
  }
  trace_.emit(TraceKind::keyEventPosted,
              {{"keyCode", std::to_string(record.keyCode)},
               {"down", formatBool(record.keyDown)},
               {"flags", formatHex(record.flags)},
               {"to", to},
               {"delivered", record.deliveredTo ? std::to_string(*record.deliveredTo) : "none"}});
}

void SimKeyboardEvents::CFRelease(CGEventSourceRef source) {
  if (!source) {
    return;
  }
  std::unique_ptr<Source> doomed;
  std::lock_guard lock(mutex_);
  auto it = sources_.find(source);
  if (it == sources_.end()) {
    handleErrorLocked(released_.count(source) ? "CFRelease of a released event source"
                                              : "CFRelease of an unknown event source");
    return;
  }
  doomed = std::move(it->second);
  sources_.erase(it);
  released_.insert(source);
}

void SimKeyboardEvents::CFRelease(CGEventRef event) {
  if (!event) {
    return;
  }
  std::unique_ptr<Event> doomed;
  std::lock_guard lock(mutex_);
  auto it = events_.find(event);
  if (it == events_.end()) {
    handleErrorLocked(released_.count(event) ? "CFRelease of a released event"
                                             : "CFRelease of an unknown event");
    return;
  }
  doomed = std::move(it->second);
  events_.erase(it);
  released_.insert(event);
}

void SimKeyboardEvents::setHeldModifiers(CGEventFlags flags) {
  std::lock_guard lock(mutex_);
  heldModifiers_ = flags;
}

void SimKeyboardEvents::setRefusesSourceCreation(bool flag) {
  std::lock_guard lock(mutex_);
  refuseSource_ = flag;
}

void SimKeyboardEvents::setRefusesKeyDownCreation(bool flag) {
  std::lock_guard lock(mutex_);
  refuseKeyDown_ = flag;
}

void SimKeyboardEvents::setRefusesKeyUpCreation(bool flag) {
  std::lock_guard lock(mutex_);
  refuseKeyUp_ = flag;
}

std::vector<PostedKeyEvent> SimKeyboardEvents::posted() const {
  std::lock_guard lock(mutex_);
  return posted_;
}

void SimKeyboardEvents::handleErrorLocked(std::string what) {
  misuse_.record(std::move(what));
}

}  // namespace lumivane::platform::sim
