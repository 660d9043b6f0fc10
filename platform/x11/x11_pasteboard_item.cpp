#include "platform/x11/x11_pasteboard_item.h"

#include <algorithm>

#include "platform/x11/x11_pasteboard_types.h"

namespace lumivane::platform::x11 {

X11PasteboardItem::X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core)
    : core_(std::move(core)), fromClipboard_(false) {}

X11PasteboardItem::X11PasteboardItem(std::shared_ptr<detail::PasteboardCore> core,
                                     detail::Listing listing)
    : core_(std::move(core)), fromClipboard_(true), listing_(std::move(listing)) {
  // The host's own contents are known whole.
  for (const auto& served : listing_.served) {
    Read read;
    read.type = served.type;
    read.format = served.format;
    read.shared = served.data;
    read_.emplace(served.target, std::move(read));
  }
  if (!listing_.served.empty())
    allRead_ = true;
}

bool X11PasteboardItem::readLocked(const std::string& target) const {
  auto read = core_->readTarget(target, listing_.time, listing_.changeCount);
  Read entry;
  if (read.outcome == Converted::Outcome::data) {
    entry.type = std::move(read.type);
    entry.format = read.format;
    entry.owned = std::move(read.data);
  } else {
    entry.unreadable = true;
  }
  read_.insert_or_assign(target, std::move(entry));
  return read.outcome != Converted::Outcome::timedOut;
}

std::vector<std::string> X11PasteboardItem::types() const {
  std::vector<std::string> types;
  if (!fromClipboard_) {
    std::lock_guard lock(mutex_);
    for (const auto& [type, data] : written_)
      types.push_back(type);
    return types;
  }
  std::lock_guard lock(mutex_);
  if (!allRead_) {
    bool answering = true;
    for (const auto& target : listing_.targets) {
      if (read_.count(target))
        continue;
      if (answering)
        answering = readLocked(target);
      else
        read_[target].unreadable = true;
    }
    allRead_ = true;
  }
  auto list = [&](const std::string& target) {
    auto it = read_.find(target);
    if (it == read_.end() || it->second.unreadable)
      types.push_back(target);
    else
      types.push_back(typeString(target, it->second.type, it->second.format));
  };
  for (const auto& target : listing_.targets)
    list(target);
  for (const auto& served : listing_.served)
    list(served.target);
  return types;
}

std::optional<Bytes> X11PasteboardItem::dataForType(const std::string& type) const {
  if (!fromClipboard_) {
    std::lock_guard lock(mutex_);
    for (const auto& [written, data] : written_) {
      if (written == type)
        return *data;
    }
    return std::nullopt;
  }
  if (isText(type)) {
    std::optional<std::string> text;
    if (!listing_.served.empty()) {
      for (const char* candidate : kTextTargets) {
        auto it = std::find_if(listing_.served.begin(), listing_.served.end(),
                               [&](const NamedTarget& t) { return t.target == candidate; });
        if (it != listing_.served.end() && (text = textFrom(it->type, it->format, *it->data)))
          break;
      }
    } else {
      text = core_->readText(listing_);
    }
    if (!text)
      return std::nullopt;
    return Bytes(text->begin(), text->end());
  }
  const auto parsed = parseTypeString(type);
  if (!parsed)
    return std::nullopt;
  const bool listed = std::find(listing_.targets.begin(), listing_.targets.end(), parsed->target) !=
                          listing_.targets.end() ||
                      std::any_of(listing_.served.begin(), listing_.served.end(),
                                  [&](const NamedTarget& t) { return t.target == parsed->target; });
  if (!listed)
    return std::nullopt;
  std::lock_guard lock(mutex_);
  auto it = read_.find(parsed->target);
  // Read when first asked for, and again once handed over.
  if (it == read_.end() || (!it->second.unreadable && !it->second.shared && !it->second.owned)) {
    readLocked(parsed->target);
    it = read_.find(parsed->target);
  }
  Read& read = it->second;
  if (read.unreadable)
    return std::nullopt;
  if (read.shared)
    return *read.shared;
  Bytes data = std::move(*read.owned);
  read.owned.reset();
  return data;
}

bool X11PasteboardItem::setDataForType(Bytes data, const std::string& type) {
  if (fromClipboard_)
    return false;
  auto shared = std::make_shared<const Bytes>(std::move(data));
  if (!targetsFor(type, shared))
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

std::optional<std::vector<std::pair<std::string, std::shared_ptr<const Bytes>>>>
X11PasteboardItem::written() const {
  if (fromClipboard_)
    return std::nullopt;
  std::lock_guard lock(mutex_);
  return written_;
}

}  // namespace lumivane::platform::x11
