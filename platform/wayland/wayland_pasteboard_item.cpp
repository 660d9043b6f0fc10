#include "platform/wayland/wayland_pasteboard_item.h"

#include <algorithm>

#include "platform/wayland/wayland_pasteboard_types.h"

namespace lumivane::platform::wayland {

WaylandPasteboardItem::WaylandPasteboardItem(std::shared_ptr<detail::PasteboardCore> core)
    : core_(std::move(core)) {}

WaylandPasteboardItem::WaylandPasteboardItem(std::shared_ptr<detail::PasteboardCore> core,
                                             detail::Listing listing)
    : core_(std::move(core)), listing_(std::move(listing)) {}

std::vector<std::string> WaylandPasteboardItem::types() const {
  if (listing_)
    return listing_->types;
  std::lock_guard lock(mutex_);
  std::vector<std::string> types;
  for (const auto& [type, data] : written_)
    types.push_back(type);
  return types;
}

std::optional<Bytes> WaylandPasteboardItem::dataForType(const std::string& type) const {
  if (!listing_) {
    std::lock_guard lock(mutex_);
    for (const auto& [written, data] : written_) {
      if (written == type)
        return *data;
    }
    return std::nullopt;
  }
  if (listing_->own) {
    // The host's own contents, from memory.
    const auto& own = *listing_->own;
    const auto find = [&](const std::string& mimeType) {
      return std::find_if(own.begin(), own.end(),
                          [&](const OfferedType& t) { return t.mimeType == mimeType; });
    };
    if (gtk::isText(type)) {
      for (const char* candidate : kTextTypes) {
        auto it = find(candidate);
        if (it == own.end())
          continue;
        if (auto text = textFrom(candidate, *it->data))
          return Bytes(text->begin(), text->end());
      }
      return std::nullopt;
    }
    auto it = find(type);
    return it == own.end() ? std::nullopt : std::optional<Bytes>(*it->data);
  }
  if (gtk::isText(type)) {
    auto text = core_->readText(listing_->changeCount);
    if (!text)
      return std::nullopt;
    return Bytes(text->begin(), text->end());
  }
  if (std::find(listing_->types.begin(), listing_->types.end(), type) == listing_->types.end())
    return std::nullopt;
  auto read = core_->read(type, listing_->changeCount);
  if (read.outcome != ReadResult::Outcome::data)
    return std::nullopt;
  return std::move(read.data);
}

bool WaylandPasteboardItem::setDataForType(Bytes data, const std::string& type) {
  if (listing_)
    return false;
  auto shared = std::make_shared<const Bytes>(std::move(data));
  if (!offeredTypesFor(type, shared))
    return false;
  std::lock_guard lock(mutex_);
  auto it = std::find_if(written_.begin(), written_.end(),
                         [&](const auto& entry) { return entry.first == type; });
  if (it != written_.end())
    it->second = std::move(shared);
  else
    written_.emplace_back(type, std::move(shared));
  return true;
}

std::optional<OfferedTypes> WaylandPasteboardItem::offered() const {
  if (listing_)
    return std::nullopt;
  std::lock_guard lock(mutex_);
  OfferedTypes all;
  for (const auto& [type, data] : written_) {
    auto types = offeredTypesFor(type, data);
    if (!types)
      return std::nullopt;
    for (auto& offered : *types) {
      const bool known = std::any_of(all.begin(), all.end(), [&](const OfferedType& t) {
        return t.mimeType == offered.mimeType;
      });
      if (!known)
        all.push_back(std::move(offered));
    }
  }
  return all;
}

}  // namespace lumivane::platform::wayland
