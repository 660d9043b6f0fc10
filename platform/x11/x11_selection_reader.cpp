#include "platform/x11/x11_selection_reader.h"

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>

namespace lumivane::platform::x11 {
namespace {

// Properties to receive conversions in; a conversion in flight holds one.
constexpr std::size_t kMaxSlots = 64;
// A property whose owner gave up on answering is left alone this long, in
// case the answer still comes, before another conversion uses it.
constexpr std::chrono::seconds kQuiet{5};

}  // namespace

SelectionReader::SelectionReader(SelectionWindow& window, Bounds bounds)
    : window_(window), c_(window.get()), bounds_(bounds) {
  incr_ = window_.connection().atom("INCR");
}

SelectionReader::~SelectionReader() {
  failAll();
}

std::optional<xcb_atom_t> SelectionReader::takeSlot(SteadyClock::time_point now) {
  const Slot* quietest = nullptr;
  for (const auto& slot : slots_) {
    if (pending_.count(slot.property))
      continue;
    if (slot.quietUntil <= now)
      return slot.property;
    if (!quietest || slot.quietUntil < quietest->quietUntil)
      quietest = &slot;
  }
  if (slots_.size() < kMaxSlots) {
    const xcb_atom_t property =
        window_.connection().atom("_LUMIVANE_SELECTION_" + std::to_string(slots_.size()));
    if (property == XCB_ATOM_NONE)
      return std::nullopt;
    slots_.push_back({property, now});
    return property;
  }
  // Every property is in use or waiting for a late answer: rather than stop
  // reading, take the one that has waited longest.
  if (quietest)
    return quietest->property;
  return std::nullopt;
}

void SelectionReader::convert(xcb_atom_t selection,
                              xcb_atom_t target,
                              xcb_timestamp_t time,
                              Done done,
                              const XProperty* parameter,
                              std::optional<std::chrono::milliseconds> answerBound) {
  const auto now = SteadyClock::now();
  auto property = takeSlot(now);
  if (closed_ || !property || !window_.alive()) {
    done(Converted{});
    return;
  }
  if (parameter) {
    const std::uint32_t units =
        static_cast<std::uint32_t>(parameter->data.size() / std::max(1, parameter->format / 8));
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, window_.window(), *property, parameter->type,
                        parameter->format, units, parameter->data.data());
  } else {
    xcb_delete_property(c_, window_.window(), *property);
  }
  xcb_convert_selection(c_, window_.window(), selection, target, *property, time);
  Pending pending;
  pending.order = nextOrder_++;
  pending.selection = selection;
  pending.target = target;
  pending.time = time;
  pending.due = now + answerBound.value_or(bounds_.answer);
  pending.lastDue = now + std::max(bounds_.transfer, answerBound.value_or(bounds_.answer));
  pending.done = std::move(done);
  pending_[*property] = std::move(pending);
}

bool SelectionReader::handle(const xcb_generic_event_t& event) {
  switch (eventKind(event)) {
    case XCB_SELECTION_NOTIFY: {
      // Owners send these themselves, so every one is sent by a client.
      const auto& notify = reinterpret_cast<const xcb_selection_notify_event_t&>(event);
      if (notify.requestor != window_.window())
        return false;
      if (notify.property == XCB_ATOM_NONE) {
        // A refusal names no property: it answers the oldest request for
        // that target, at that time when the owner says which (not all do).
        auto refused = pending_.end();
        auto better = [&](std::map<xcb_atom_t, Pending>::iterator it) {
          if (refused == pending_.end())
            return true;
          const bool exact = it->second.time == notify.time;
          const bool refusedExact = refused->second.time == notify.time;
          if (exact != refusedExact)
            return exact;
          return it->second.order < refused->second.order;
        };
        for (auto it = pending_.begin(); it != pending_.end(); ++it) {
          const Pending& p = it->second;
          if (!p.incremental && p.selection == notify.selection && p.target == notify.target &&
              better(it)) {
            refused = it;
          }
        }
        if (refused != pending_.end())
          finish(refused, Converted::Outcome::refused);
        return true;
      }
      auto it = pending_.find(notify.property);
      if (it == pending_.end() || it->second.incremental) {
        // An answer that came too late: whatever it holds is nobody's.
        xcb_delete_property(c_, window_.window(), notify.property);
        return true;
      }
      answered(it);
      return true;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      if (notify.window != window_.window() || notify.state != XCB_PROPERTY_NEW_VALUE)
        return false;
      auto it = pending_.find(notify.atom);
      if (it != pending_.end()) {
        // Before the answer the owner is still writing it; afterwards each
        // new value is a piece.
        if (it->second.incremental)
          pieceArrived(it);
        return true;
      }
      const bool ours = std::any_of(slots_.begin(), slots_.end(),
                                    [&](const Slot& s) { return s.property == notify.atom; });
      // A late owner still sending to a conversion that has ended: deleting
      // what it sends keeps the server from holding it.
      if (ours)
        xcb_delete_property(c_, window_.window(), notify.atom);
      return ours;
    }
    default:
      return false;
  }
}

void SelectionReader::answered(std::map<xcb_atom_t, Pending>::iterator it) {
  Pending& pending = it->second;
  std::size_t length = 0;
  const auto read = readProperty(it->first, pending, &pending.type, &pending.format, &length);
  if (read == XcbConnection::PropertyRead::missing) {
    // Converted, says the owner, into nothing: an answer that carries no
    // data (format 0), which is all some targets ask for.
    pending.type = XCB_ATOM_NONE;
    pending.format = 0;
    finish(it, Converted::Outcome::data);
    return;
  }
  if (read != XcbConnection::PropertyRead::whole) {
    finish(it, Converted::Outcome::failed);
    return;
  }
  if (pending.type != incr_) {
    finish(it, Converted::Outcome::data);
    return;
  }
  // The owner sends in pieces. It may have announced at least how many bytes
  // (not every owner does): more than a conversion may bring in is refused
  // now rather than after reading that much.
  std::uint32_t announced = 0;
  if (pending.format == 32 && pending.data.size() >= 4)
    std::memcpy(&announced, pending.data.data(), 4);
  if (announced > bounds_.maxBytes) {
    finish(it, Converted::Outcome::failed);
    return;
  }
  pending.data.clear();
  pending.data.reserve(announced);
  pending.keepPieces = announced == 0;
  pending.bytes = 0;
  pending.type = XCB_ATOM_NONE;
  pending.format = 0;
  pending.incremental = true;
  pending.due = SteadyClock::now() + bounds_.increment;
}

void SelectionReader::pieceArrived(std::map<xcb_atom_t, Pending>::iterator it) {
  Pending& pending = it->second;
  xcb_atom_t type = XCB_ATOM_NONE;
  std::uint8_t format = 0;
  std::size_t length = 0;
  const auto read = readProperty(it->first, pending, &type, &format, &length);
  if (read == XcbConnection::PropertyRead::missing)
    return;  // Already taken: a notice of an earlier piece.
  if (read != XcbConnection::PropertyRead::whole ||
      (pending.format != 0 && format != pending.format)) {
    finish(it, Converted::Outcome::failed);
    return;
  }
  pending.type = type;
  pending.format = format;
  if (length == 0) {
    finish(it, Converted::Outcome::data);
    return;
  }
  pending.due = SteadyClock::now() + bounds_.increment;
}

XcbConnection::PropertyRead SelectionReader::readProperty(xcb_atom_t property,
                                                          Pending& pending,
                                                          xcb_atom_t* type,
                                                          std::uint8_t* format,
                                                          std::size_t* length) {
  *length = 0;
  bool first = true;
  return window_.connection().readProperty(
      window_.window(), property, /*remove=*/true, XCB_GET_PROPERTY_TYPE_ANY,
      [&](XcbConnection::PropertyPiece& reply) {
        const auto bytes = static_cast<std::size_t>(xcb_get_property_value_length(reply.get()));
        const std::uint32_t after = reply->bytes_after;
        if (std::exchange(first, false)) {
          *type = reply->type;
          *format = reply->format;
          if (pending.bytes + bytes + after > bounds_.maxBytes)
            return false;
        }
        pending.bytes += bytes;
        *length += bytes;
        if (pending.keepPieces) {
          if (bytes > 0)
            pending.pieces.push_back(std::move(reply));
          return true;
        }
        // Reserved once for a whole property; grown by half again when an
        // owner sends more than it announced.
        Bytes& data = pending.data;
        if (data.capacity() < data.size() + bytes + after)
          data.reserve(
              std::max(data.size() + bytes + after, data.capacity() + data.capacity() / 2));
        const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(reply.get()));
        data.insert(data.end(), value, value + bytes);
        return true;
      });
}

void SelectionReader::finish(std::map<xcb_atom_t, Pending>::iterator it,
                             Converted::Outcome outcome) {
  Pending pending = std::move(it->second);
  const xcb_atom_t property = it->first;
  pending_.erase(it);
  if (outcome == Converted::Outcome::timedOut) {
    for (auto& slot : slots_) {
      if (slot.property == property)
        slot.quietUntil = SteadyClock::now() + kQuiet;
    }
    xcb_delete_property(c_, window_.window(), property);
  }
  Converted result;
  if (outcome == Converted::Outcome::data) {
    result.type = pending.type;
    result.format = pending.format;
    result.data = std::move(pending.data);
    result.data.reserve(pending.bytes);
    for (auto& piece : pending.pieces) {
      const auto* value = static_cast<const std::uint8_t*>(xcb_get_property_value(piece.get()));
      result.data.insert(result.data.end(), value,
                         value + xcb_get_property_value_length(piece.get()));
      piece.reset();
    }
  }
  result.outcome = outcome;
  pending.done(std::move(result));
}

std::optional<SteadyClock::time_point> SelectionReader::nextDeadline() const {
  std::optional<SteadyClock::time_point> next;
  for (const auto& [property, pending] : pending_) {
    const auto due = std::min(pending.due, pending.lastDue);
    if (!next || due < *next)
      next = due;
  }
  return next;
}

void SelectionReader::expire(SteadyClock::time_point now) {
  for (auto it = pending_.begin(); it != pending_.end();) {
    auto current = it++;
    if (current->second.due <= now || current->second.lastDue <= now)
      finish(current, Converted::Outcome::timedOut);
  }
}

void SelectionReader::failAll() {
  closed_ = true;
  while (!pending_.empty())
    finish(pending_.begin(), Converted::Outcome::failed);
}

}  // namespace lumivane::platform::x11
