#include "platform/gtk/primary_loan.h"

namespace lumivane::platform::gtk {

PrimaryLoan::PrimaryLoan(Pasteboard& primary, const std::string& text, std::function<void()> letGo)
    : primary_(primary), letGo_(std::move(letGo)) {
  const std::int64_t before = primary_.changeCount();
  const auto items = primary_.pasteboardItems();
  if (!items)
    return;
  bool offered = false;
  for (const auto& item : *items) {
    SavedItem saved;
    for (const auto& type : item->types()) {
      offered = true;
      if (auto data = item->dataForType(type))
        saved.emplace_back(type, std::move(*data));
    }
    if (!saved.empty())
      saved_.push_back(std::move(saved));
  }
  if ((offered && saved_.empty()) || primary_.changeCount() != before)
    return;
  clearedAt_ = primary_.clearContents();
  cleared_ = true;
  lent_ = primary_.setStringForType(text, NSPasteboardTypeString);
  lentAt_ = primary_.changeCount();
}

PrimaryLoan::~PrimaryLoan() {
  // Anything but the host's own last change is somebody's new selection.
  if (!cleared_ || primary_.changeCount() != (lent_ ? lentAt_ : clearedAt_))
    return;
  if (saved_.empty()) {
    letGo_();
    return;
  }
  primary_.clearContents();
  for (auto& saved : saved_) {
    auto item = primary_.makeItem();
    for (auto& [type, data] : saved)
      item->setDataForType(std::move(data), type);
    primary_.writeObjects({item});
  }
}

}  // namespace lumivane::platform::gtk
