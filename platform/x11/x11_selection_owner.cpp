#include "platform/x11/x11_selection_owner.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <vector>

namespace lumivane::platform::x11 {
namespace {

// Larger targets go out in increments of this size: big enough that a 64 MiB
// image needs few round trips, small enough that a requestor's property and
// the server's copy of it stay modest.
constexpr std::size_t kIncrementCap = 1 << 20;
// The most (target, property) pairs one MULTIPLE request may ask for.
constexpr std::uint32_t kMaxMultiplePairs = 256;

std::size_t unitBytes(std::uint8_t format) {
  return format / 8u;
}

}  // namespace

SelectionOwner::SelectionOwner(SelectionWindow& window, xcb_atom_t selection, Bounds bounds)
    : window_(window), c_(window.get()), selection_(selection), bounds_(bounds) {
  bounds_.maxTransfers = std::max<std::size_t>(bounds_.maxTransfers, 1);
  auto atoms =
      window_.connection().atoms({"TARGETS", "TIMESTAMP", "MULTIPLE", "INCR", "ATOM_PAIR"});
  targets_ = atoms[0];
  timestamp_ = atoms[1];
  multiple_ = atoms[2];
  incr_ = atoms[3];
  atomPair_ = atoms[4];
  // What one ChangeProperty can carry, less room for the request's own fields.
  const std::size_t requestLimit = window_.connection().maximumRequestBytes();
  incrementBytes_ = std::min(kIncrementCap, requestLimit > 1024 ? requestLimit - 1024 : 4096);
  incrementBytes_ -= incrementBytes_ % 4;
}

bool SelectionOwner::claim(std::shared_ptr<const OfferedTargets> targets, xcb_timestamp_t time) {
  std::uint32_t confirmedAt = 0;
  if (!window_.claim(selection_, time, &confirmedAt))
    return false;
  owned_ = true;
  ownedSince_ = time;
  confirmedAt_ = confirmedAt;
  offered_ = std::move(targets);
  return true;
}

bool SelectionOwner::letGo() {
  if (!owned_)
    return false;
  // Stamped with the claim's time, the request does nothing when another
  // client has claimed the selection since.
  xcb_set_selection_owner(c_, XCB_WINDOW_NONE, selection_, ownedSince_);
  owned_ = false;
  offered_.reset();
  return true;
}

bool SelectionOwner::handle(const xcb_generic_event_t& event) {
  switch (eventKind(event)) {
    case 0: {
      // An error on a request made without waiting: the transfers it concerns
      // are over when their requestor's window is gone.
      const auto& error = reinterpret_cast<const xcb_generic_error_t&>(event);
      if (error.error_code == XCB_WINDOW && watched_.count(error.resource_id)) {
        forgetRequestor(error.resource_id);
        return true;
      }
      return false;
    }
    case XCB_SELECTION_REQUEST: {
      const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(event);
      if (request.owner != window_.window())
        return false;
      // Only the server passes on real requests; a made-up one could name any
      // window and is not worth answering.
      if (!sentByClient(event))
        answer(request);
      return true;
    }
    case XCB_SELECTION_CLEAR: {
      const auto& clear = reinterpret_cast<const xcb_selection_clear_event_t&>(event);
      if (clear.owner != window_.window() || clear.selection != selection_)
        return false;
      // Made up by a client, or about a claim this one has since replaced:
      // the selection is still ours.
      const bool stale = static_cast<std::int32_t>(event.full_sequence - confirmedAt_) < 0;
      if (!sentByClient(event) && !stale) {
        owned_ = false;
        offered_.reset();
      }
      return true;
    }
    case XCB_PROPERTY_NOTIFY: {
      const auto& notify = reinterpret_cast<const xcb_property_notify_event_t&>(event);
      auto it = transfers_.find({notify.window, notify.atom});
      if (it == transfers_.end())
        return false;
      // The requestor took the last piece; only the server can say so.
      if (notify.state == XCB_PROPERTY_DELETE && !sentByClient(event))
        sendNext(it);
      return true;
    }
    case XCB_DESTROY_NOTIFY: {
      const auto& destroyed = reinterpret_cast<const xcb_destroy_notify_event_t&>(event);
      if (!watched_.count(destroyed.window) || sentByClient(event))
        return false;
      forgetRequestor(destroyed.window);
      return true;
    }
    default:
      return false;
  }
}

void SelectionOwner::answer(const xcb_selection_request_event_t& request) {
  // Clients from before properties were named in requests expect the target's
  // own name.
  const xcb_atom_t property = request.property == XCB_ATOM_NONE ? request.target : request.property;
  bool converted = false;
  // A request made before our claim was meant for the owner before us. One
  // naming our own window would have us select events on it and tangle its
  // transfers with ours.
  const bool forUs = owned_ && request.selection == selection_ &&
                     request.requestor != window_.window() &&
                     (request.time == XCB_CURRENT_TIME || !timeBefore(request.time, ownedSince_));
  if (forUs) {
    if (request.target == multiple_)
      converted = request.property != XCB_ATOM_NONE && convertMultiple(request.requestor, property);
    else
      converted = convert(request.requestor, request.target, property);
  }
  notify(request, converted ? property : xcb_atom_t{XCB_ATOM_NONE});
}

bool SelectionOwner::convert(xcb_window_t requestor, xcb_atom_t target, xcb_atom_t property) {
  if (property == XCB_ATOM_NONE)
    return false;
  const OfferedTargets nothing;
  const OfferedTargets& offeredTargets = offered_ ? *offered_ : nothing;
  if (target == targets_) {
    std::vector<xcb_atom_t> list = {timestamp_, targets_, multiple_};
    for (const auto& offered : offeredTargets)
      list.push_back(offered.target);
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_ATOM, 32,
                        static_cast<std::uint32_t>(list.size()), list.data());
    return true;
  }
  if (target == timestamp_) {
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, XCB_ATOM_INTEGER, 32, 1,
                        &ownedSince_);
    return true;
  }
  auto offered = std::find_if(offeredTargets.begin(), offeredTargets.end(),
                              [&](const OfferedTarget& t) { return t.target == target; });
  if (offered == offeredTargets.end() || !offered->data)
    return false;
  const Bytes& data = *offered->data;
  ++served_;
  if (data.size() > incrementBytes_) {
    startTransfer(requestor, property, *offered);
    return true;
  }
  xcb_change_property(
      c_, XCB_PROP_MODE_REPLACE, requestor, property, offered->type, offered->format,
      static_cast<std::uint32_t>(data.size() / unitBytes(offered->format)), data.data());
  return true;
}

bool SelectionOwner::convertMultiple(xcb_window_t requestor, xcb_atom_t property) {
  // The requestor lists (target, property) pairs in the property; each failed
  // conversion has its property replaced by None in the list we write back.
  XcbReply<xcb_get_property_reply_t> reply(
      xcb_get_property_reply(c_,
                             xcb_get_property(c_, 0, requestor, property, XCB_GET_PROPERTY_TYPE_ANY,
                                              0, kMaxMultiplePairs * 2),
                             nullptr));
  if (!reply || reply->format != 32 || reply->bytes_after != 0 ||
      (reply->type != atomPair_ && reply->type != XCB_ATOM_ATOM))
    return false;
  const int length = xcb_get_property_value_length(reply.get());
  if (length <= 0 || length % 8 != 0)
    return false;
  std::vector<xcb_atom_t> pairs(static_cast<std::size_t>(length) / 4);
  std::memcpy(pairs.data(), xcb_get_property_value(reply.get()), pairs.size() * 4);
  for (std::size_t i = 0; i < pairs.size(); i += 2) {
    const xcb_atom_t target = pairs[i];
    const xcb_atom_t into = pairs[i + 1];
    if (target == multiple_ || into == XCB_ATOM_NONE || into == property ||
        !convert(requestor, target, into)) {
      pairs[i + 1] = XCB_ATOM_NONE;
    }
  }
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, reply->type, 32,
                      static_cast<std::uint32_t>(pairs.size()), pairs.data());
  return true;
}

void SelectionOwner::notify(const xcb_selection_request_event_t& request, xcb_atom_t property) {
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = property;
  // SendEvent always sends 32 bytes; the notification is shorter.
  char event[32] = {};
  std::memcpy(event, &notify, sizeof notify);
  xcb_send_event(c_, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, event);
}

void SelectionOwner::startTransfer(xcb_window_t requestor,
                                   xcb_atom_t property,
                                   const OfferedTarget& offered) {
  const TransferKey key{requestor, property};
  if (auto existing = transfers_.find(key); existing != transfers_.end()) {
    // The requestor asks again into the same property: the old transfer is
    // of no further use to it.
    drop(existing, /*abandoned=*/false);
  }
  if (transfers_.size() >= bounds_.maxTransfers) {
    auto idlest = std::min_element(transfers_.begin(), transfers_.end(), [](auto& a, auto& b) {
      return a.second.lastActive < b.second.lastActive;
    });
    drop(idlest, /*abandoned=*/true);
  }
  // Watch before announcing, so that the requestor's first deletion is seen.
  watch(requestor);
  Transfer transfer;
  transfer.data = offered.data;
  transfer.type = offered.type;
  transfer.format = offered.format;
  transfer.lastActive = SteadyClock::now();
  transfers_.emplace(key, std::move(transfer));
  // The announced size is a lower bound the requestor may reserve for.
  const std::uint32_t size = static_cast<std::uint32_t>(
      std::min<std::size_t>(offered.data->size(), std::numeric_limits<std::uint32_t>::max()));
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, requestor, property, incr_, 32, 1, &size);
}

void SelectionOwner::sendNext(std::map<TransferKey, Transfer>::iterator it) {
  auto& [key, transfer] = *it;
  const Bytes& data = *transfer.data;
  const std::size_t unit = unitBytes(transfer.format);
  if (transfer.sent >= data.size()) {
    // An empty piece ends the transfer.
    xcb_change_property(c_, XCB_PROP_MODE_REPLACE, key.first, key.second, transfer.type,
                        transfer.format, 0, nullptr);
    drop(it, /*abandoned=*/false);
    return;
  }
  std::size_t piece = std::min(incrementBytes_, data.size() - transfer.sent);
  piece -= piece % unit;
  xcb_change_property(c_, XCB_PROP_MODE_REPLACE, key.first, key.second, transfer.type,
                      transfer.format, static_cast<std::uint32_t>(piece / unit),
                      data.data() + transfer.sent);
  transfer.sent += piece;
  transfer.lastActive = SteadyClock::now();
}

void SelectionOwner::drop(std::map<TransferKey, Transfer>::iterator it, bool abandoned) {
  const auto [requestor, property] = it->first;
  // Taking the unread piece away frees the server's copy of it and tells a
  // requestor that comes back late that this transfer is over.
  if (abandoned)
    xcb_delete_property(c_, requestor, property);
  transfers_.erase(it);
  unwatch(requestor);
}

void SelectionOwner::forgetRequestor(xcb_window_t requestor) {
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    if (it->first.first == requestor)
      it = transfers_.erase(it);
    else
      ++it;
  }
  watched_.erase(requestor);
}

void SelectionOwner::watch(xcb_window_t requestor) {
  if (watched_[requestor]++ > 0)
    return;
  const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE | XCB_EVENT_MASK_STRUCTURE_NOTIFY;
  xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &mask);
}

void SelectionOwner::unwatch(xcb_window_t requestor) {
  auto it = watched_.find(requestor);
  if (it == watched_.end() || --it->second > 0)
    return;
  watched_.erase(it);
  const std::uint32_t none = XCB_EVENT_MASK_NO_EVENT;
  xcb_change_window_attributes(c_, requestor, XCB_CW_EVENT_MASK, &none);
}

std::optional<SteadyClock::time_point> SelectionOwner::nextDeadline() const {
  std::optional<SteadyClock::time_point> next;
  for (const auto& [key, transfer] : transfers_) {
    const auto due = transfer.lastActive + bounds_.requestorIdle;
    if (!next || due < *next)
      next = due;
  }
  return next;
}

void SelectionOwner::expire(SteadyClock::time_point now) {
  for (auto it = transfers_.begin(); it != transfers_.end();) {
    auto current = it++;
    if (current->second.lastActive + bounds_.requestorIdle <= now)
      drop(current, /*abandoned=*/true);
  }
}

}  // namespace lumivane::platform::x11
