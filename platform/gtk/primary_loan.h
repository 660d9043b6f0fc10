#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

#include "platform/pasteboard.h"

namespace lumivane::platform::gtk {

// The user's PRIMARY lent to a paste: saved whole (every type, as the
// clipboard is saved around the host's own work), then offering `text` for as
// long as the loan lasts. When it ends, PRIMARY offers the saved contents
// again, or `letGo` leaves it to nobody when it held nothing; a selection the
// user made meanwhile stays as it is. No loan is made when the user's
// selection cannot be saved (its owner gave none of what it offers, or it
// changed while it was read): lending it then would lose it. X11 and Wayland
// alike: `primary` is the backend's pasteboard for that selection.
class PrimaryLoan {
 public:
  PrimaryLoan(Pasteboard& primary, const std::string& text, std::function<void()> letGo);
  ~PrimaryLoan();
  PrimaryLoan(const PrimaryLoan&) = delete;
  PrimaryLoan& operator=(const PrimaryLoan&) = delete;

  // Whether PRIMARY offers the text: false when the loan was not made, or
  // the host was refused the selection.
  bool lent() const { return lent_; }

 private:
  using SavedItem = std::vector<std::pair<std::string, Bytes>>;
  Pasteboard& primary_;
  const std::function<void()> letGo_;
  std::vector<SavedItem> saved_;
  // Whether the host cleared the user's selection, and the change counts of
  // its clear and of its text.
  bool cleared_ = false;
  std::int64_t clearedAt_ = 0;
  std::int64_t lentAt_ = 0;
  bool lent_ = false;
};

}  // namespace lumivane::platform::gtk
