#include "platform/gtk/primary_loan.h"

namespace lumivane::platform::gtk {

PrimaryLoan::PrimaryLoan(Pasteboard& primary, const std::string& text, std::function<void()> letGo)
    : primary_(primary), letGo_(std::move(letGo)) {
  if (auto items = primary_.pasteboardItems()) {
    for (const auto& item : *items) {
      SavedItem saved;
      for (const auto& type : item->types()) {
        if (auto data = item->dataForType(type))
          saved.emplace_back(type, std::move(*data));
      }
      if (!saved.empty())
        saved_.push_back(std::move(saved));
    }
  }
  primary_.clearContents();
  lent_ = primary_.setStringForType(text, NSPasteboardTypeString);
  lentAt_ = primary_.changeCount();
}

PrimaryLoan::~PrimaryLoan() {
  if (primary_.changeCount() != lentAt_)
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
