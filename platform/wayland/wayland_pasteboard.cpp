#include "platform/wayland/wayland_pasteboard.h"

#include "platform/utf8.h"
#include "platform/wayland/wayland_pasteboard_item.h"
#include "platform/wayland/wayland_pasteboard_types.h"

namespace lumivane::platform::wayland {

std::unique_ptr<WaylandPasteboard> WaylandPasteboard::open(
    std::shared_ptr<WaylandConnection> connection,
    Options options,
    std::string* error) {
  auto core = detail::PasteboardCore::open(std::move(connection), options.selection,
                                           {options.bounds.reading, options.bounds.serving}, error);
  if (!core)
    return nullptr;
  return std::make_unique<WaylandPasteboard>(std::move(options), std::move(core));
}

WaylandPasteboard::WaylandPasteboard(Options options, std::shared_ptr<detail::PasteboardCore> core)
    : options_(std::move(options)), core_(std::move(core)) {}

WaylandPasteboard::~WaylandPasteboard() {
  handOffBeforeExit();
  core_->shutdown();
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>> WaylandPasteboard::pasteboardItems() {
  auto listing = core_->list();
  if (!listing)
    return std::nullopt;
  std::vector<std::shared_ptr<PasteboardItem>> items;
  if (!listing->types.empty())
    items.push_back(std::make_shared<WaylandPasteboardItem>(core_, std::move(*listing)));
  return items;
}

std::int64_t WaylandPasteboard::clearContents() {
  return core_->clear();
}

void WaylandPasteboard::letGo() {
  core_->letGo();
}

bool WaylandPasteboard::writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  std::vector<OfferedTypes> contents;
  for (const auto& item : items) {
    // Only new items of this kind can be written, as on macOS.
    const auto* ours = dynamic_cast<const WaylandPasteboardItem*>(item.get());
    auto offered = ours ? ours->offered() : std::nullopt;
    if (!offered)
      return false;
    if (!offered->empty())
      contents.push_back(std::move(*offered));
  }
  if (contents.empty())
    return true;
  return core_->write(std::move(contents));
}

std::optional<std::string> WaylandPasteboard::stringForType(const std::string& type) {
  if (gtk::isText(type))
    return core_->readText(std::nullopt);
  auto listing = core_->list();
  if (!listing)
    return std::nullopt;
  auto read = core_->read(type, listing->changeCount);
  if (read.outcome != ReadResult::Outcome::data || !isValidUtf8(read.data.data(), read.data.size()))
    return std::nullopt;
  return std::string(read.data.begin(), read.data.end());
}

bool WaylandPasteboard::setStringForType(const std::string& string, const std::string& type) {
  if (!isValidUtf8(string))
    return false;
  auto types = offeredTypesFor(type, std::make_shared<const Bytes>(string.begin(), string.end()));
  if (!types)
    return false;
  std::vector<std::string> replaced;
  if (gtk::isText(type)) {
    replaced = {kTextTypes.begin(), kTextTypes.end()};
    replaced.emplace_back(gtk::kText);
  } else {
    replaced = {type};
  }
  return core_->setString(std::move(*types), std::move(replaced));
}

std::int64_t WaylandPasteboard::changeCount() {
  return core_->changeCount();
}

std::shared_ptr<PasteboardItem> WaylandPasteboard::makeItem() {
  return std::make_shared<WaylandPasteboardItem>(core_);
}

std::chrono::steady_clock::time_point WaylandPasteboard::changedAt() const {
  return core_->changedAt();
}

std::uint64_t WaylandPasteboard::readsServed() const {
  return core_->readsServed();
}

bool WaylandPasteboard::waitForReadsServed(std::uint64_t count, std::chrono::milliseconds bound) {
  return core_->waitForReadsServed(count, bound);
}

bool WaylandPasteboard::waitForChange(std::int64_t count, std::chrono::milliseconds bound) {
  return core_->waitForChangeFrom(count, bound);
}

WaylandPasteboard::HandOffResult WaylandPasteboard::handOffBeforeExit() {
  if (options_.selection != Selection::clipboard)
    return {HandOff::notOwner};
  auto held = core_->heldContents();
  if (!held)
    return {HandOff::notOwner};
  if (options_.keeperPath.empty())
    return {HandOff::lost};
  std::vector<gtk::NamedTarget> targets;
  for (auto& type : *held)
    targets.push_back({type.mimeType, type.mimeType, 8, std::move(type.data)});
  std::vector<std::string> arguments = {"--wayland"};
  if (!options_.displayName.empty())
    arguments.insert(arguments.end(), {"--display", options_.displayName});
  const auto pid =
      gtk::startClipboardKeeper(options_.keeperPath, arguments, targets, options_.bounds.keeper);
  // The keeper reports once the compositor has made it the selection, which
  // cancels the host's source before that.
  if (!pid || core_->holdsSelection())
    return {HandOff::lost};
  return {HandOff::keptByKeeper, *pid};
}

}  // namespace lumivane::platform::wayland
