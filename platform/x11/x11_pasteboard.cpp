#include "platform/x11/x11_pasteboard.h"

#include <algorithm>

#include "platform/utf8.h"
#include "platform/x11/x11_pasteboard_core.h"
#include "platform/x11/x11_pasteboard_item.h"

namespace lumivane::platform::x11 {

std::unique_ptr<X11Pasteboard> X11Pasteboard::open(Options options, std::string* error) {
  auto window = SelectionWindow::open(options.displayName, error);
  if (!window)
    return nullptr;
  const xcb_atom_t selection =
      window->connection().atom(options.selection == Selection::primary ? "PRIMARY" : "CLIPBOARD");
  const auto ownerChange = window->watchOwner(selection);
  if (!ownerChange) {
    if (error)
      *error = "the X server cannot report clipboard changes (no XFixes)";
    return nullptr;
  }
  auto core = std::make_shared<detail::PasteboardCore>(std::move(window), selection, options.bounds,
                                                       *ownerChange);
  if (!core->start()) {
    if (error)
      *error = "cannot start the clipboard's thread";
    return nullptr;
  }
  return std::make_unique<X11Pasteboard>(std::move(options), std::move(core));
}

X11Pasteboard::X11Pasteboard(Options options, std::shared_ptr<detail::PasteboardCore> core)
    : options_(std::move(options)), core_(std::move(core)) {}

X11Pasteboard::~X11Pasteboard() {
  handOffBeforeExit();
  core_->stop();
}

std::optional<std::vector<std::shared_ptr<PasteboardItem>>> X11Pasteboard::pasteboardItems() {
  auto result = core_->list();
  if (!result)
    return std::nullopt;
  std::vector<std::shared_ptr<PasteboardItem>> items;
  if (!result->listing.targets.empty() || !result->listing.served.empty())
    items.push_back(std::make_shared<X11PasteboardItem>(core_, std::move(result->listing)));
  return items;
}

std::int64_t X11Pasteboard::clearContents() {
  return core_->clear();
}

bool X11Pasteboard::writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) {
  std::vector<std::vector<NamedTarget>> contents;
  for (const auto& item : items) {
    // Only new items of this kind can be written, as on macOS.
    const auto* ours = dynamic_cast<const X11PasteboardItem*>(item.get());
    const auto written = ours ? ours->written() : std::nullopt;
    if (!written)
      return false;
    std::vector<NamedTarget> targets;
    for (const auto& [type, data] : *written) {
      auto offered = targetsFor(type, data);
      if (!offered)
        return false;
      for (auto& target : *offered) {
        const bool known = std::any_of(targets.begin(), targets.end(), [&](const NamedTarget& t) {
          return t.target == target.target;
        });
        if (!known)
          targets.push_back(std::move(target));
      }
    }
    if (!targets.empty())
      contents.push_back(std::move(targets));
  }
  if (contents.empty())
    return true;
  return core_->write(std::move(contents));
}

std::optional<std::string> X11Pasteboard::stringForType(const std::string& type) {
  if (isText(type))
    return core_->readText(std::nullopt);
  auto parsed = parseTypeString(type);
  if (!parsed)
    return std::nullopt;
  return core_->readTargetText(parsed->target);
}

bool X11Pasteboard::setStringForType(const std::string& string, const std::string& type) {
  if (!isValidUtf8(string))
    return false;
  auto targets = targetsFor(type, std::make_shared<const Bytes>(string.begin(), string.end()));
  if (!targets)
    return false;
  std::vector<std::string> replaced;
  if (isText(type)) {
    replaced = {kUtf8String, kUtf8Plain, kLatin1String, kText};
  } else {
    for (const auto& target : *targets)
      replaced.push_back(target.target);
  }
  return core_->setString(std::move(*targets), std::move(replaced));
}

std::int64_t X11Pasteboard::changeCount() {
  return core_->changeCount();
}

std::shared_ptr<PasteboardItem> X11Pasteboard::makeItem() {
  return std::make_shared<X11PasteboardItem>(core_);
}

X11Pasteboard::HandOffResult X11Pasteboard::handOffBeforeExit() {
  if (options_.selection != Selection::clipboard)
    return {HandOff::notOwner};
  return handOffClipboard(*core_, options_.keeperPath, options_.displayName,
                          options_.bounds.keeper);
}

std::uint64_t X11Pasteboard::conversionsServed() {
  return core_->served();
}

bool X11Pasteboard::waitForConversionsServed(std::uint64_t count, std::chrono::milliseconds bound) {
  return core_->waitForServed(count, bound);
}

void X11Pasteboard::letGo() {
  core_->letGo();
}

}  // namespace lumivane::platform::x11
