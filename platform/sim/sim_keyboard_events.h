#pragma once

#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/keyboard_events.h"
#include "platform/sim/sim_common.h"

namespace lumivane::platform::sim {

class SimClock;
class SimWorkspace;
class SimAccessibility;

// A key event as it was posted.
struct PostedKeyEvent {
  double time = 0;
  CGKeyCode keyCode = 0;
  bool keyDown = false;
  CGEventFlags flags = 0;
  // Where it was addressed: a process, or an event tap.
  std::optional<pid_t> pid;
  std::optional<CGEventTapLocation> tap;
  // The process that received it; absent when the event was dropped (no such
  // process, it has quit, nothing in front, or the host is not trusted).
  std::optional<pid_t> deliveredTo;
  // The state of the source the event was made from; absent without one.
  std::optional<CGEventSourceStateID> sourceState;
};

// Core Graphics keyboard events. Any thread. Handles are real objects, owned
// by the caller until CFRelease; the sim counts them and records misuse of
// them (a second release, a handle it never made) instead of crashing.
class SimKeyboardEvents final : public KeyboardEvents {
 public:
  SimKeyboardEvents(SimClock& clock,
                    SimTrace& trace,
                    MisuseLog& misuse,
                    std::shared_ptr<LiveCounters> live,
                    SimWorkspace& workspace,
                    SimAccessibility& accessibility);
  ~SimKeyboardEvents() override;

  // KeyboardEvents.
  CGEventSourceRef CGEventSourceCreate(CGEventSourceStateID state) override;
  CGEventRef CGEventCreateKeyboardEvent(CGEventSourceRef source,
                                        CGKeyCode virtualKey,
                                        bool keyDown) override;
  void CGEventSetFlags(CGEventRef event, CGEventFlags flags) override;
  CGEventFlags CGEventGetFlags(CGEventRef event);
  void CGEventPostToPid(pid_t pid, CGEventRef event) override;
  void CGEventPost(CGEventTapLocation tap, CGEventRef event) override;
  void CFRelease(CGEventSourceRef source) override;
  void CFRelease(CGEventRef event) override;

  // Scripting. The modifier keys the user is holding down; new events start
  // with these flags, as real ones do.
  void setHeldModifiers(CGEventFlags flags);
  // Creation fails (returns null) while set.
  void setRefusesSourceCreation(bool flag);
  void setRefusesKeyDownCreation(bool flag);
  void setRefusesKeyUpCreation(bool flag);

  // Inspection.
  std::vector<PostedKeyEvent> posted() const;

 private:
  struct Source;
  struct Event;
  Event* findEvent(CGEventRef event, const char* operation);
  void post(CGEventRef event,
            std::optional<pid_t> pid,
            std::optional<CGEventTapLocation> tap,
            const char* operation);
  void handleErrorLocked(std::string what);

  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  std::shared_ptr<LiveCounters> live_;
  SimWorkspace& workspace_;
  SimAccessibility& accessibility_;

  mutable std::mutex mutex_;
  CGEventFlags heldModifiers_ = 0;
  bool refuseSource_ = false;
  bool refuseKeyDown_ = false;
  bool refuseKeyUp_ = false;
  std::map<const void*, std::unique_ptr<Source>> sources_;
  std::map<const void*, std::unique_ptr<Event>> events_;
  // Addresses given back already; an allocation that reuses one removes it.
  std::set<const void*> released_;
  std::vector<PostedKeyEvent> posted_;
};

}  // namespace lumivane::platform::sim
