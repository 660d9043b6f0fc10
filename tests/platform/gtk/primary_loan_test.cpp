// The user's PRIMARY around a paste that goes through it: back after the
// loan, type for type, or empty when it was; never written over a selection
// the user made meanwhile; and not lent at all when it could not be saved.

#include "platform/gtk/primary_loan.h"

#include <gtest/gtest.h>

#include "platform/sim/sim_desktop.h"

namespace lumivane::platform::gtk {
namespace {

using sim::SimPasteboardEntry;
using sim::SimPasteboardItemContents;

class PrimaryLoanTest : public ::testing::Test {
 protected:
  std::unique_ptr<PrimaryLoan> lend() {
    return std::make_unique<PrimaryLoan>(primary, "pasted", [this] {
      ++letGo;
      primary.clearContents();
    });
  }

  sim::SimDesktop desktop;
  sim::SimPasteboard& primary = desktop.generalPasteboard();
  int letGo = 0;
  const std::vector<SimPasteboardItemContents> users = {
      {SimPasteboardEntry::text("the user's"),
       SimPasteboardEntry::text("<b>the user's</b>", "public.html")}};
};

TEST_F(PrimaryLoanTest, TheUsersSelectionComesBackAfterThePasteOrStaysEmpty) {
  primary.setContents(users);
  {
    auto loan = lend();
    EXPECT_TRUE(loan->lent());
    EXPECT_EQ(primary.plainText(), "pasted");
  }
  EXPECT_EQ(primary.contents(), users);
  EXPECT_EQ(letGo, 0);

  primary.clearContentsBy("user");
  lend().reset();
  EXPECT_EQ(letGo, 1);
}

TEST_F(PrimaryLoanTest, ASelectionMadeMeanwhileStays) {
  primary.setContents(users);
  {
    auto loan = lend();
    primary.setString("selected during the paste");
  }
  EXPECT_EQ(primary.plainText(), "selected during the paste");

  // The user selects between the host's clear and its text, which is then
  // refused: what the user selected stays.
  struct SelectsDuringTheWrite : Pasteboard {
    sim::SimPasteboard& inner;
    explicit SelectsDuringTheWrite(sim::SimPasteboard& p) : inner(p) {}
    std::optional<std::vector<std::shared_ptr<PasteboardItem>>> pasteboardItems() override {
      return inner.pasteboardItems();
    }
    std::int64_t clearContents() override { return inner.clearContents(); }
    bool writeObjects(const std::vector<std::shared_ptr<PasteboardItem>>& items) override {
      return inner.writeObjects(items);
    }
    std::optional<std::string> stringForType(const std::string& type) override {
      return inner.stringForType(type);
    }
    bool setStringForType(const std::string& string, const std::string& type) override {
      inner.setString("selected during the write");
      return inner.setStringForType(string, type);
    }
    std::int64_t changeCount() override { return inner.changeCount(); }
    std::shared_ptr<PasteboardItem> makeItem() override { return inner.makeItem(); }
  } racing(primary);
  primary.setContents(users);
  {
    PrimaryLoan loan(racing, "pasted", [] {});
    EXPECT_FALSE(loan.lent());
  }
  EXPECT_EQ(primary.plainText(), "selected during the write");
}

TEST_F(PrimaryLoanTest, ASelectionThatCannotBeSavedIsNotLent) {
  const std::vector<SimPasteboardItemContents> unreadable = {
      {SimPasteboardEntry::unreadable(NSPasteboardTypeString)}};
  primary.setContents(unreadable);
  {
    auto loan = lend();
    EXPECT_FALSE(loan->lent());
  }
  EXPECT_EQ(primary.contents(), unreadable);
  EXPECT_EQ(letGo, 0);
}

}  // namespace
}  // namespace lumivane::platform::gtk
