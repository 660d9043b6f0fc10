#include "tests/platform/x11/raw_x_client.h"

#include <poll.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <random>

namespace lumivane::test_support {
namespace {

using Clock = std::chrono::steady_clock;

std::uint8_t kind(const xcb_generic_event_t& event) {
  return event.response_type & 0x7f;
}

void notify(xcb_connection_t* c,
            const xcb_selection_request_event_t& request,
            xcb_atom_t property) {
  xcb_selection_notify_event_t notify{};
  notify.response_type = XCB_SELECTION_NOTIFY;
  notify.time = request.time;
  notify.requestor = request.requestor;
  notify.selection = request.selection;
  notify.target = request.target;
  notify.property = property;
  char event[32] = {};
  std::memcpy(event, &notify, sizeof notify);
  xcb_send_event(c, 0, request.requestor, XCB_EVENT_MASK_NO_EVENT, event);
  xcb_flush(c);
}

}  // namespace

std::string noise(std::size_t size, unsigned seed) {
  std::mt19937 random(seed);
  std::string bytes(size, '\0');
  for (auto& byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

// RawClient -------------------------------------------------------------------

RawClient::RawClient(const std::string& display) {
  std::string error;
  x_ = XcbConnection::open(display, &error);
  if (!x_)
    return;
  window_ = xcb_generate_id(c());
  const std::uint32_t values[] = {XCB_EVENT_MASK_PROPERTY_CHANGE};
  xcb_create_window(c(), XCB_COPY_FROM_PARENT, window_, x_->root(), 0, 0, 1, 1, 0,
                    XCB_WINDOW_CLASS_INPUT_ONLY, XCB_COPY_FROM_PARENT, XCB_CW_EVENT_MASK, values);
  xcb_flush(c());
}

RawClient::~RawClient() = default;

xcb_window_t RawClient::owner(const std::string& selection) {
  XcbReply<xcb_get_selection_owner_reply_t> reply(
      xcb_get_selection_owner_reply(c(), xcb_get_selection_owner(c(), atom(selection)), nullptr));
  return reply ? reply->owner : 0;
}

xcb_timestamp_t RawClient::serverTime() {
  return x_->serverTime(window_, atom("RAW_TIME"), &kept_).value_or(0);
}

XcbReply<xcb_generic_event_t> RawClient::waitFor(
    const std::function<bool(const xcb_generic_event_t&)>& match,
    double seconds) {
  for (auto it = kept_.begin(); it != kept_.end(); ++it) {
    if (match(**it)) {
      auto event = std::move(*it);
      kept_.erase(it);
      return event;
    }
  }
  const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                           std::chrono::duration<double>(seconds));
  for (;;) {
    xcb_flush(c());
    while (XcbReply<xcb_generic_event_t> event{xcb_poll_for_event(c())}) {
      if (match(*event))
        return event;
      kept_.push_back(std::move(event));
    }
    const auto left =
        std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
    if (left.count() <= 0 || !x_->alive())
      return nullptr;
    pollfd p{xcb_get_file_descriptor(c()), POLLIN, 0};
    ::poll(&p, 1, static_cast<int>(left.count()));
  }
}

bool RawClient::hasArrived(const std::function<bool(const xcb_generic_event_t&)>& match) {
  XcbReply<xcb_get_input_focus_reply_t> reply(
      xcb_get_input_focus_reply(c(), xcb_get_input_focus(c()), nullptr));
  return waitFor(match, 0) != nullptr;
}

std::optional<xcb_atom_t> RawClient::convert(const std::string& target,
                                             const std::string& property,
                                             xcb_timestamp_t time,
                                             double seconds,
                                             const std::string& selection) {
  const xcb_atom_t targetAtom = atom(target);
  xcb_convert_selection(c(), window_, atom(selection), targetAtom,
                        property.empty() ? xcb_atom_t{XCB_ATOM_NONE} : atom(property), time);
  auto event = waitFor(
      [&](const xcb_generic_event_t& e) {
        const auto& n = reinterpret_cast<const xcb_selection_notify_event_t&>(e);
        return kind(e) == XCB_SELECTION_NOTIFY && n.requestor == window_ && n.target == targetAtom;
      },
      seconds);
  if (!event)
    return std::nullopt;
  return reinterpret_cast<const xcb_selection_notify_event_t&>(*event).property;
}

std::optional<XProperty> RawClient::read(const std::string& target, const std::string& selection) {
  const xcb_atom_t property = atom("RAW_READ");
  xcb_delete_property(c(), window_, property);
  if (convert(target, "RAW_READ", XCB_CURRENT_TIME, 30, selection).value_or(XCB_ATOM_NONE) !=
      property)
    return std::nullopt;
  auto first = x_->getProperty(window_, property, /*remove=*/true);
  if (!first || first->type != atom("INCR"))
    return first;
  XProperty whole;
  for (;;) {
    auto piece = waitFor([&](const xcb_generic_event_t& e) {
      const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(e);
      return kind(e) == XCB_PROPERTY_NOTIFY && n.window == window_ && n.atom == property &&
             n.state == XCB_PROPERTY_NEW_VALUE;
    });
    if (!piece)
      return std::nullopt;
    auto value = x_->getProperty(window_, property, /*remove=*/true);
    if (!value)
      continue;  // The notice of a value already read.
    whole.type = value->type;
    whole.format = value->format;
    if (value->data.empty())
      return whole;
    whole.data.insert(whole.data.end(), value->data.begin(), value->data.end());
  }
}

void RawClient::sendEvent(xcb_window_t window, const void* event) {
  xcb_send_event(c(), 0, window, XCB_EVENT_MASK_NO_EVENT, static_cast<const char*>(event));
  xcb_flush(c());
}

// RawOwner --------------------------------------------------------------------

RawOwner::RawOwner(const std::string& display, std::vector<RawTarget> targets, Behaviour behaviour)
    : client_(std::make_unique<RawClient>(display)),
      targets_(std::move(targets)),
      behaviour_(std::move(behaviour)) {
  if (!client_->ready())
    return;
  window_ = client_->window();
  xcb_set_selection_owner(client_->c(), window_, client_->atom(behaviour_.selection),
                          XCB_CURRENT_TIME);
  owns_ = client_->owner(behaviour_.selection) == window_;
  thread_ = std::thread([this] { run(); });
}

RawOwner::~RawOwner() {
  stopping_ = true;
  if (thread_.joinable())
    thread_.join();
}

int RawOwner::requests(const std::string& target) {
  std::lock_guard lock(mutex_);
  return requests_[target];
}

void RawOwner::run() {
  while (!stopping_) {
    // The next piece of each transfer whose last piece has been taken.
    for (auto it = transfers_.begin(); it != transfers_.end();) {
      auto current = it++;
      const auto& transfer = current->second;
      if (transfer.deleted && (!behaviour_.holdIncrements || released_) &&
          Clock::now() - transfer.lastSent >= behaviour_.pieceInterval) {
        sendPiece(current->first.first, current->first.second, current->second);
      }
    }
    auto event = client_->waitFor([](const xcb_generic_event_t&) { return true; }, 0.02);
    if (!event)
      continue;
    if (kind(*event) == XCB_SELECTION_REQUEST) {
      answer(reinterpret_cast<const xcb_selection_request_event_t&>(*event));
    } else if (kind(*event) == XCB_PROPERTY_NOTIFY) {
      const auto& n = reinterpret_cast<const xcb_property_notify_event_t&>(*event);
      auto it = transfers_.find({n.window, n.atom});
      if (it != transfers_.end() && n.state == XCB_PROPERTY_DELETE)
        it->second.deleted = true;
    }
  }
}

void RawOwner::answer(const xcb_selection_request_event_t& request) {
  xcb_connection_t* c = client_->c();
  const std::string target = client_->name(request.target);
  {
    std::lock_guard lock(mutex_);
    ++requests_[target];
  }
  const xcb_atom_t property = request.property ? request.property : request.target;
  if (target == "TARGETS") {
    if (!behaviour_.answersTargets)
      return;
    if (behaviour_.targetsAnswer) {
      const auto& junk = *behaviour_.targetsAnswer;
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                          client_->atom(junk.type), junk.format,
                          static_cast<std::uint32_t>(junk.bytes.size() / (junk.format / 8)),
                          junk.bytes.data());
    } else {
      std::vector<xcb_atom_t> list = {request.target};
      for (const auto& t : targets_)
        list.push_back(client_->atom(t.target));
      xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, XCB_ATOM_ATOM, 32,
                          static_cast<std::uint32_t>(list.size()), list.data());
    }
    notify(c, request, property);
    return;
  }
  if (!behaviour_.answersData)
    return;
  auto offered = std::find_if(targets_.begin(), targets_.end(),
                              [&](const RawTarget& t) { return t.target == target; });
  if (offered == targets_.end() || offered->refused) {
    auto refused = request;
    refused.time = behaviour_.refusalTime.value_or(request.time);
    notify(c, refused, XCB_ATOM_NONE);
    return;
  }
  const xcb_atom_t type = client_->atom(offered->type);
  if (offered->bytes.size() > behaviour_.incrementAbove) {
    const std::uint32_t mask = XCB_EVENT_MASK_PROPERTY_CHANGE;
    xcb_change_window_attributes(c, request.requestor, XCB_CW_EVENT_MASK, &mask);
    const std::uint32_t size =
        behaviour_.announcedSize.value_or(static_cast<std::uint32_t>(offered->bytes.size()));
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property,
                        client_->atom("INCR"), 32, 1, &size);
    transfers_[{request.requestor, property}] = Transfer{offered->bytes, 0, type, offered->format};
  } else {
    xcb_change_property(c, XCB_PROP_MODE_REPLACE, request.requestor, property, type,
                        offered->format,
                        static_cast<std::uint32_t>(offered->bytes.size() / (offered->format / 8)),
                        offered->bytes.data());
  }
  notify(c, request, property);
}

void RawOwner::sendPiece(xcb_window_t window, xcb_atom_t property, Transfer& transfer) {
  transfer.deleted = false;
  transfer.lastSent = Clock::now();
  const std::size_t piece =
      std::min(behaviour_.incrementAbove, transfer.bytes.size() - transfer.sent);
  xcb_change_property(client_->c(), XCB_PROP_MODE_REPLACE, window, property, transfer.type,
                      transfer.format, static_cast<std::uint32_t>(piece / (transfer.format / 8)),
                      transfer.bytes.data() + transfer.sent);
  xcb_flush(client_->c());
  if (piece == 0)
    transfers_.erase({window, property});
  else
    transfer.sent += piece;
}

// RawClipboardManager ---------------------------------------------------------

RawClipboardManager::RawClipboardManager(const std::string& display, bool refuses)
    : client_(std::make_unique<RawClient>(display)), refuses_(refuses) {
  if (!client_->ready())
    return;
  xcb_set_selection_owner(client_->c(), client_->window(), client_->atom("CLIPBOARD_MANAGER"),
                          XCB_CURRENT_TIME);
  runs_ = client_->owner("CLIPBOARD_MANAGER") == client_->window();
  thread_ = std::thread([this] { run(); });
}

RawClipboardManager::~RawClipboardManager() {
  stopping_ = true;
  if (thread_.joinable())
    thread_.join();
}

std::map<std::string, RawClipboardManager::Saved> RawClipboardManager::saved() {
  std::lock_guard lock(mutex_);
  return saved_;
}

void RawClipboardManager::run() {
  const xcb_atom_t manager = client_->atom("CLIPBOARD_MANAGER");
  const xcb_atom_t saveTargets = client_->atom("SAVE_TARGETS");
  while (!stopping_) {
    auto event = client_->waitFor(
        [](const xcb_generic_event_t& e) { return kind(e) == XCB_SELECTION_REQUEST; }, 0.02);
    if (!event)
      continue;
    const auto& request = reinterpret_cast<const xcb_selection_request_event_t&>(*event);
    if (request.selection != manager || request.target != saveTargets) {
      notify(client_->c(), request, XCB_ATOM_NONE);
      continue;
    }
    ++requests_;
    if (refuses_) {
      notify(client_->c(), request, XCB_ATOM_NONE);
      continue;
    }
    std::map<std::string, Saved> saved;
    if (auto list = client_->read("TARGETS")) {
      for (xcb_atom_t atom : list->values32()) {
        const std::string name = client_->name(atom);
        if (name == "TARGETS" || name == "TIMESTAMP" || name == "MULTIPLE")
          continue;
        if (auto value = client_->read(name)) {
          saved[name] = {client_->name(value->type), value->format,
                         std::string(value->data.begin(), value->data.end())};
        }
      }
    }
    {
      std::lock_guard lock(mutex_);
      saved_ = std::move(saved);
    }
    notify(client_->c(), request, request.property);
  }
}

}  // namespace lumivane::test_support
