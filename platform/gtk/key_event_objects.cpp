#include "platform/gtk/key_event_objects.h"

namespace lumivane::platform::gtk {
namespace {

// An object's own address is the reference the host holds.
template <typename Ref, typename T>
Ref refTo(T* object) {
  return reinterpret_cast<Ref>(object);
}

}  // namespace

CGEventSourceRef KeyEventObjects::makeSource(CGEventSourceStateID state) {
  auto source = std::make_unique<CGEventSourceStateID>(state);
  auto* ref = source.get();
  std::lock_guard lock(mutex_);
  sources_.emplace(ref, std::move(source));
  return refTo<CGEventSourceRef>(ref);
}

std::optional<CGEventSourceStateID> KeyEventObjects::stateOf(CGEventSourceRef source) const {
  std::lock_guard lock(mutex_);
  auto it = sources_.find(source);
  if (it == sources_.end())
    return std::nullopt;
  return *it->second;
}

CGEventRef KeyEventObjects::makeEvent(SyntheticKey key) {
  auto event = std::make_unique<SyntheticKey>(key);
  auto* ref = event.get();
  std::lock_guard lock(mutex_);
  events_.emplace(ref, std::move(event));
  return refTo<CGEventRef>(ref);
}

void KeyEventObjects::setFlags(CGEventRef event, CGEventFlags flags) {
  std::lock_guard lock(mutex_);
  if (auto it = events_.find(event); it != events_.end())
    it->second->flags = flags;
}

std::optional<SyntheticKey> KeyEventObjects::find(CGEventRef event) const {
  std::lock_guard lock(mutex_);
  auto it = events_.find(event);
  if (it == events_.end())
    return std::nullopt;
  return *it->second;
}

void KeyEventObjects::release(CGEventSourceRef source) {
  std::lock_guard lock(mutex_);
  sources_.erase(source);
}

void KeyEventObjects::release(CGEventRef event) {
  std::lock_guard lock(mutex_);
  events_.erase(event);
}

std::size_t KeyEventObjects::held() const {
  std::lock_guard lock(mutex_);
  return sources_.size() + events_.size();
}

}  // namespace lumivane::platform::gtk
