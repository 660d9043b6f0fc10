#include "capture/key_chords.h"

#include <functional>
#include <memory>

namespace lumivane {
namespace {

using platform::CGEventRef;
using platform::CGEventSourceRef;
using platform::KeyboardEvents;

// Owns one Core Graphics object and gives it back on every path.
template <typename Ref>
class ScopedCFObject {
 public:
  ScopedCFObject(KeyboardEvents& events, Ref ref) : events_(events), ref_(ref) {}
  ~ScopedCFObject() {
    if (ref_)
      events_.CFRelease(ref_);
  }
  ScopedCFObject(const ScopedCFObject&) = delete;
  ScopedCFObject& operator=(const ScopedCFObject&) = delete;
  Ref get() const { return ref_; }
  explicit operator bool() const { return ref_ != nullptr; }

 private:
  KeyboardEvents& events_;
  Ref ref_;
};

// Builds both events before posting either, so the target never sees a key
// down without its key up. The flags are set, not added: keys the user happens
// to hold (Shift, Option) must not turn Command+C into another shortcut.
bool postChord(KeyboardEvents& events,
               platform::CGKeyCode key,
               const std::function<void(CGEventRef)>& post) {
  ScopedCFObject<CGEventSourceRef> source(
      events, events.CGEventSourceCreate(platform::CGEventSourceStateID::hidSystemState));
  ScopedCFObject<CGEventRef> down(events,
                                  events.CGEventCreateKeyboardEvent(source.get(), key, true));
  if (!down)
    return false;
  events.CGEventSetFlags(down.get(), platform::kCGEventFlagMaskCommand);
  ScopedCFObject<CGEventRef> up(events,
                                events.CGEventCreateKeyboardEvent(source.get(), key, false));
  if (!up)
    return false;
  events.CGEventSetFlags(up.get(), platform::kCGEventFlagMaskCommand);
  post(down.get());
  post(up.get());
  return true;
}

}  // namespace

bool postCopyChord(KeyboardEvents& events, platform::pid_t pid) {
  return postChord(events, platform::kVK_ANSI_C,
                   [&](CGEventRef event) { events.CGEventPostToPid(pid, event); });
}

bool postPasteChord(KeyboardEvents& events) {
  return postChord(events, platform::kVK_ANSI_V, [&](CGEventRef event) {
    events.CGEventPost(platform::CGEventTapLocation::hidEventTap, event);
  });
}

}  // namespace lumivane
