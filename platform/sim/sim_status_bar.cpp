#include "platform/sim/sim_status_bar.h"

#include <algorithm>
#include <utility>

#include "platform/sim/sim_application.h"
#include "platform/sim/sim_clock.h"

namespace lumivane::platform::sim {

SimMenuItem::SimMenuItem(std::shared_ptr<LiveCounters> live,
                         std::string title,
                         std::string action,
                         std::string keyEquivalent)
    : live_(std::move(live), &LiveCounters::menuItems),
      title_(std::move(title)),
      action_(std::move(action)),
      keyEquivalent_(std::move(keyEquivalent)) {}

void SimStatusBarButton::performClick() {
  auto bar = bar_.lock();
  if (!bar) {
    return;
  }
  bar->misuse_.requireMainThread("NSStatusBarButton performClick:");
  auto item = item_.lock();
  if (item && item->menu()) {
    bar->openMenu(item->menu());
    return;
  }
  bar->application_.sendAction(action_, target());
}

SimStatusBar::SimStatusBar(SimClock& clock,
                           SimTrace& trace,
                           MisuseLog& misuse,
                           SimApplication& application,
                           std::shared_ptr<LiveCounters> live)
    : clock_(clock),
      trace_(trace),
      misuse_(misuse),
      application_(application),
      live_(std::move(live)),
      symbols_{"textbox", "text.cursor", "pencil", "doc.on.clipboard", "gearshape", "sparkles"} {}

std::shared_ptr<StatusItem> SimStatusBar::statusItemWithLength(double length) {
  misuse_.requireMainThread("NSStatusBar statusItemWithLength:");
  auto item = std::make_shared<SimStatusItem>(length);
  if (!itemsHaveNoButton_) {
    item->button_ = std::make_shared<SimStatusBarButton>(weak_from_this(), item);
  }
  items_.erase(
      std::remove_if(items_.begin(), items_.end(), [](const auto& weak) { return weak.expired(); }),
      items_.end());
  items_.push_back(item);
  trace_.emit(TraceKind::statusItemCreated, {{"button", formatBool(item->button_ != nullptr)}});
  return item;
}

std::shared_ptr<Image> SimStatusBar::imageWithSystemSymbolName(const std::string& name,
                                                               const std::string& description) {
  misuse_.requireMainThread("NSImage imageWithSystemSymbolName:");
  if (!symbols_.count(name)) {
    return nullptr;
  }
  return std::make_shared<SimImage>(name, description);
}

std::shared_ptr<Menu> SimStatusBar::makeMenu() {
  misuse_.requireMainThread("NSMenu init");
  return std::make_shared<SimMenu>(live_);
}

std::shared_ptr<MenuItem> SimStatusBar::makeMenuItem(const std::string& title,
                                                     const std::string& action,
                                                     const std::string& keyEquivalent) {
  misuse_.requireMainThread("NSMenuItem init");
  return std::make_shared<SimMenuItem>(live_, title, action, keyEquivalent);
}

std::vector<std::shared_ptr<SimStatusItem>> SimStatusBar::statusItems() const {
  std::vector<std::shared_ptr<SimStatusItem>> result;
  for (const auto& weak : items_) {
    if (auto item = weak.lock()) {
      result.push_back(std::move(item));
    }
  }
  return result;
}

bool SimStatusBar::clickStatusItem(EventType type, std::uint64_t modifierFlags) {
  auto items = statusItems();
  if (items.empty()) {
    return false;
  }
  return clickStatusItem(items.back(), type, modifierFlags);
}

bool SimStatusBar::clickStatusItem(const std::shared_ptr<StatusItem>& item,
                                   EventType type,
                                   std::uint64_t modifierFlags) {
  auto sim = std::dynamic_pointer_cast<SimStatusItem>(item);
  if (!sim || !sim->button_) {
    return false;  // nothing in the menu bar to click
  }
  std::weak_ptr<SimStatusItem> weak = sim;
  clock_.scheduleOnMain(clock_.now(), [this, weak, type, modifierFlags] {
    if (auto target = weak.lock()) {
      deliverClick(target, Event{type, modifierFlags, CGPoint{11, 11}, clock_.now()});
    }
  });
  return true;
}

void SimStatusBar::deliverClick(const std::shared_ptr<SimStatusItem>& item, const Event& event) {
  application_.handleEvent(event, [&] {
    if (auto menu = item->menu()) {
      openMenu(menu);
      return;
    }
    auto button = item->button_;
    const std::uint64_t bit = 1ull << static_cast<std::uint32_t>(event.type);
    if (button && (button->sendActionMask() & bit)) {
      application_.sendAction(button->action(), button->target());
    }
  });
}

std::vector<std::shared_ptr<SimMenuItem>> SimMenu::items() const {
  std::vector<std::shared_ptr<SimMenuItem>> items;
  for (const auto& item : items_) {
    if (auto sim = std::dynamic_pointer_cast<SimMenuItem>(item))
      items.push_back(std::move(sim));
  }
  return items;
}

void SimStatusBar::openMenu(const std::shared_ptr<Menu>& menu) {
  MenuOpening opening{clock_.now(), {}, std::nullopt};
  auto simMenu = std::dynamic_pointer_cast<SimMenu>(menu);
  const auto items = simMenu ? simMenu->items() : std::vector<std::shared_ptr<SimMenuItem>>{};
  for (const auto& item : items) {
    opening.entries.push_back({item->title(), item->keyEquivalent(), item->action()});
  }
  std::shared_ptr<SimMenuItem> chosen;
  if (!choices_.empty()) {
    const std::string title = std::move(choices_.front());
    choices_.pop_front();
    auto it = std::find_if(items.begin(), items.end(),
                           [&](const auto& item) { return item->title() == title; });
    if (it != items.end()) {
      chosen = *it;
      opening.chosen = title;
    }
  }
  menuOpenings_.push_back(opening);
  std::vector<std::pair<std::string, std::string>> fields;
  for (const auto& entry : opening.entries) {
    fields.emplace_back("item", entry.title);
  }
  // No "chosen" field: the user dismissed the menu.
  if (opening.chosen) {
    fields.emplace_back("chosen", *opening.chosen);
  }
  trace_.emit(TraceKind::menuOpened, std::move(fields));
  // The menu has closed by the time its item's action goes out.
  if (chosen) {
    // Menu items have no target: the action travels the responder chain.
    application_.sendAction(chosen->action(), nullptr);
  }
}

}  // namespace lumivane::platform::sim
