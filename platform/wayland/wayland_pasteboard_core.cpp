#include "platform/wayland/wayland_pasteboard_core.h"

#include <wayland-client.h>

#include <algorithm>
#include <string_view>

#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pasteboard_types.h"

namespace lumivane::platform::wayland::detail {

std::shared_ptr<PasteboardCore> PasteboardCore::open(std::shared_ptr<WaylandConnection> connection,
                                                     Selection selection,
                                                     Bounds bounds,
                                                     std::string* error) {
  auto core = std::make_shared<PasteboardCore>(connection, selection, bounds);
  const auto opened = connection->call<bool>([&] { return core->openDevice(error); });
  if (!opened || !*opened) {
    if (error && error->empty())
      *error = "the Wayland connection has gone";
    return nullptr;
  }
  return core;
}

PasteboardCore::PasteboardCore(std::shared_ptr<WaylandConnection> connection,
                               Selection selection,
                               Bounds bounds)
    : connection_(std::move(connection)), selection_(selection), bounds_(bounds) {}

PasteboardCore::~PasteboardCore() {
  shutdown();
}

bool PasteboardCore::openDevice(std::string* error) {
  const auto& globals = connection_->globals();
  if (!globals.dataControl || !globals.seat) {
    if (error)
      *error = "the compositor offers no data-control";
    return false;
  }
  if (selection_ == Selection::primary && globals.dataControlVersion < 2) {
    if (error)
      *error = "the compositor's data-control has no primary selection";
    return false;
  }
  static const zwlr_data_control_device_v1_listener listener = {
      .data_offer = &PasteboardCore::onOffer,
      .selection = &PasteboardCore::onSelection,
      .finished = &PasteboardCore::onFinished,
      .primary_selection = &PasteboardCore::onPrimary,
  };
  device_ = zwlr_data_control_manager_v1_get_data_device(globals.dataControl, globals.seat);
  zwlr_data_control_device_v1_add_listener(device_, &listener, this);
  // The device is told the selections at once.
  if (!connection_->roundTrip()) {
    if (error)
      *error = "the Wayland compositor did not answer";
    return false;
  }
  return true;
}

void PasteboardCore::shutdown() {
  connection_->call<bool>([this] {
    source_.reset();
    ours_ = false;
    for (auto& [offer, types] : announced_)
      zwlr_data_control_offer_v1_destroy(offer);
    announced_.clear();
    if (current_)
      zwlr_data_control_offer_v1_destroy(current_);
    current_ = nullptr;
    if (device_)
      zwlr_data_control_device_v1_destroy(device_);
    device_ = nullptr;
    return true;
  });
}

// --- Events, on the connection's thread ------------------------------------------

void PasteboardCore::onOffer(void* data,
                             zwlr_data_control_device_v1*,
                             zwlr_data_control_offer_v1* offer) {
  static const zwlr_data_control_offer_v1_listener listener = {
      .offer = &PasteboardCore::onOfferType,
  };
  static_cast<PasteboardCore*>(data)->announced_[offer];
  zwlr_data_control_offer_v1_add_listener(offer, &listener, data);
}

void PasteboardCore::onOfferType(void* data, zwlr_data_control_offer_v1* offer, const char* mime) {
  auto& self = *static_cast<PasteboardCore*>(data);
  if (auto it = self.announced_.find(offer); it != self.announced_.end())
    it->second.emplace_back(mime);
}

void PasteboardCore::onSelection(void* data,
                                 zwlr_data_control_device_v1*,
                                 zwlr_data_control_offer_v1* offer) {
  auto& self = *static_cast<PasteboardCore*>(data);
  if (self.selection_ == Selection::clipboard)
    self.becomes(offer);
  else
    self.dropOffer(offer);
}

void PasteboardCore::onPrimary(void* data,
                               zwlr_data_control_device_v1*,
                               zwlr_data_control_offer_v1* offer) {
  auto& self = *static_cast<PasteboardCore*>(data);
  if (self.selection_ == Selection::primary)
    self.becomes(offer);
  else
    self.dropOffer(offer);
}

void PasteboardCore::onFinished(void* data, zwlr_data_control_device_v1*) {
  auto& self = *static_cast<PasteboardCore*>(data);
  zwlr_data_control_device_v1_destroy(self.device_);
  self.device_ = nullptr;
}

void PasteboardCore::dropOffer(zwlr_data_control_offer_v1* offer) {
  if (!offer)
    return;
  announced_.erase(offer);
  zwlr_data_control_offer_v1_destroy(offer);
}

void PasteboardCore::becomes(zwlr_data_control_offer_v1* offer) {
  if (current_)
    zwlr_data_control_offer_v1_destroy(current_);
  current_ = offer;
  currentTypes_.clear();
  if (auto it = announced_.find(offer); offer && it != announced_.end()) {
    currentTypes_ = std::move(it->second);
    announced_.erase(it);
  }
  // Every new selection is a change of hands, the host's own claims
  // included: each claim counts once, through the event it brings.
  ours_ = false;
  ++changeCount_;
  changedAt_.store(std::chrono::steady_clock::now().time_since_epoch().count());
  publish();
}

// --- Work on the connection's thread --------------------------------------------

void PasteboardCore::catchUp() {
  if (device_)
    connection_->roundTrip();
}

PasteboardCore::Holder PasteboardCore::holder() const {
  if (ours_ && source_ && !source_->cancelled())
    return Holder::host;
  return current_ ? Holder::another : Holder::nobody;
}

bool PasteboardCore::claim(std::vector<OfferedTypes> items) {
  if (!device_)
    return false;
  // One item on Wayland: the first item's types, then what later items add.
  OfferedTypes offered;
  for (const auto& item : items) {
    for (const auto& type : item) {
      const bool known = std::any_of(offered.begin(), offered.end(), [&](const OfferedType& t) {
        return t.mimeType == type.mimeType;
      });
      if (!known)
        offered.push_back(type);
    }
  }
  SelectionSource::Events events;
  events.asked = [this] {
    {
      std::lock_guard lock(readsMutex_);
      ++readsServed_;
    }
    readsServedChanged_.notify_all();
  };
  auto source =
      SelectionSource::make(*connection_, std::move(offered), bounds_.serving, std::move(events));
  if (!source)
    return false;
  if (selection_ == Selection::clipboard)
    zwlr_data_control_device_v1_set_selection(device_, source->get());
  else
    zwlr_data_control_device_v1_set_primary_selection(device_, source->get());
  // The compositor names the new selection to every device, this one
  // included, before it answers the round trip; a claim another client
  // overtook at once leaves the source cancelled by then.
  if (!connection_->roundTrip() || source->cancelled())
    return false;
  // The previous source goes only now, so that the selection is never
  // empty in between; its transfers under way finish.
  source_ = std::move(source);
  ours_ = true;
  written_ = std::move(items);
  return true;
}

std::optional<PasteboardCore::ReadStart> PasteboardCore::startRead(const std::string& mimeType,
                                                                   std::int64_t changeCount) {
  catchUp();
  if (changeCount != changeCount_)
    return std::nullopt;
  if (holder() == Holder::host) {
    for (const auto& type : source_->types()) {
      if (type.mimeType == mimeType)
        return ReadStart{*type.data, {}};
    }
    return std::nullopt;
  }
  if (!current_ ||
      std::find(currentTypes_.begin(), currentTypes_.end(), mimeType) == currentTypes_.end()) {
    return std::nullopt;
  }
  auto pipe = makeTransferPipe();
  if (!pipe)
    return std::nullopt;
  // The request carries a copy of the write end; the owner's is the only one
  // left once this one closes, so its end of writing is the reader's end of
  // file.
  zwlr_data_control_offer_v1_receive(current_, mimeType.c_str(), pipe->write.get());
  wl_display_flush(connection_->display());
  return ReadStart{std::nullopt, std::move(pipe->read)};
}

// --- Calls from other threads ------------------------------------------------------

std::optional<Listing> PasteboardCore::list() {
  auto listed = connection_->call<std::optional<Listing>>([this]() -> std::optional<Listing> {
    catchUp();
    if (!device_)
      return std::nullopt;
    Listing listing;
    listing.changeCount = changeCount_;
    if (holder() == Holder::host) {
      listing.own = source_->types();
      for (const auto& type : *listing.own)
        listing.types.push_back(type.mimeType);
    } else {
      listing.types = currentTypes_;
    }
    return listing;
  });
  return listed ? std::move(*listed) : std::nullopt;
}

ReadResult PasteboardCore::read(const std::string& mimeType, std::int64_t changeCount) {
  auto started =
      connection_->call<std::optional<ReadStart>>([&] { return startRead(mimeType, changeCount); });
  if (!started || !*started)
    return {};
  auto& start = **started;
  if (start.own)
    return {ReadResult::Outcome::data, std::move(*start.own)};
  // Read here, not on the connection's thread, which goes on serving.
  return readTransfer(start.pipe, bounds_.reading);
}

std::optional<std::string> PasteboardCore::readText(std::optional<std::int64_t> changeCount) {
  auto listing = list();
  if (!listing || (changeCount && *changeCount != listing->changeCount))
    return std::nullopt;
  bool utf8Offered = false;
  for (const char* candidate : kTextTypes) {
    if (std::find(listing->types.begin(), listing->types.end(), candidate) == listing->types.end())
      continue;
    // STRING only from an owner that offers no UTF-8 (an old X client through
    // XWayland): the others put the same bytes there, which are then no
    // Latin-1 either.
    if (candidate == std::string_view(gtk::kLatin1String) && utf8Offered)
      break;
    utf8Offered = true;
    auto read = this->read(candidate, listing->changeCount);
    if (read.outcome == ReadResult::Outcome::data) {
      if (auto text = textFrom(candidate, read.data))
        return text;
    } else if (read.outcome == ReadResult::Outcome::timedOut) {
      // An owner that stopped answering would only be waited for again.
      return std::nullopt;
    }
  }
  return std::nullopt;
}

std::int64_t PasteboardCore::clear() {
  const auto cleared = connection_->call<std::int64_t>([this] {
    catchUp();
    claim({});
    return changeCount_;
  });
  return cleared ? *cleared : published_.load();
}

void PasteboardCore::letGo() {
  connection_->call<bool>([this] {
    catchUp();
    if (holder() != Holder::host)
      return false;
    if (selection_ == Selection::clipboard)
      zwlr_data_control_device_v1_set_selection(device_, nullptr);
    else
      zwlr_data_control_device_v1_set_primary_selection(device_, nullptr);
    // Every request the compositor sent before it emptied the selection has
    // arrived by the round trip's answer; their transfers outlive the source.
    connection_->roundTrip();
    source_.reset();
    ours_ = false;
    written_.clear();
    return true;
  });
}

bool PasteboardCore::write(std::vector<OfferedTypes> items) {
  return connection_
      ->call<bool>([&] {
        catchUp();
        // Another client's selection the host has not cleared stays as it is.
        const Holder now = holder();
        if (now == Holder::another)
          return false;
        std::vector<OfferedTypes> all =
            now == Holder::host ? written_ : std::vector<OfferedTypes>{};
        for (auto& item : items)
          all.push_back(std::move(item));
        return claim(std::move(all));
      })
      .value_or(false);
}

bool PasteboardCore::setString(OfferedTypes types, std::vector<std::string> replaced) {
  return connection_
      ->call<bool>([&] {
        catchUp();
        const Holder now = holder();
        if (now == Holder::another)
          return false;
        // Into the first item, as setString:forType: does, in place of what
        // the same type put there before.
        std::vector<OfferedTypes> all =
            now == Holder::host ? written_ : std::vector<OfferedTypes>{};
        if (all.empty())
          all.emplace_back();
        auto& first = all.front();
        first.erase(std::remove_if(first.begin(), first.end(),
                                   [&](const OfferedType& t) {
                                     return std::find(replaced.begin(), replaced.end(),
                                                      t.mimeType) != replaced.end();
                                   }),
                    first.end());
        for (auto& type : types)
          first.push_back(std::move(type));
        return claim(std::move(all));
      })
      .value_or(false);
}

std::int64_t PasteboardCore::changeCount() {
  return connection_
      ->call<std::int64_t>([this] {
        catchUp();
        return changeCount_;
      })
      .value_or(published_.load());
}

std::optional<OfferedTypes> PasteboardCore::heldContents() {
  auto held =
      connection_->call<std::optional<OfferedTypes>>([this]() -> std::optional<OfferedTypes> {
        catchUp();
        if (holder() != Holder::host || source_->types().empty())
          return std::nullopt;
        return source_->types();
      });
  return held ? std::move(*held) : std::nullopt;
}

bool PasteboardCore::holdsSelection() {
  return connection_
      ->call<bool>([this] {
        catchUp();
        return holder() == Holder::host;
      })
      .value_or(false);
}

void PasteboardCore::publish() {
  {
    std::lock_guard lock(readsMutex_);
    published_.store(changeCount_, std::memory_order_release);
  }
  publishedChanged_.notify_all();
}

bool PasteboardCore::waitForChangeFrom(std::int64_t count, std::chrono::milliseconds bound) {
  std::unique_lock lock(readsMutex_);
  return publishedChanged_.wait_for(lock, bound, [&] { return published_.load() != count; });
}

bool PasteboardCore::waitForReadsServed(std::uint64_t count, std::chrono::milliseconds bound) {
  std::unique_lock lock(readsMutex_);
  return readsServedChanged_.wait_for(lock, bound, [&] { return readsServed_.load() > count; });
}

}  // namespace lumivane::platform::wayland::detail
