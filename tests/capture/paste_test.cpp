#include <gtest/gtest.h>

#include "tests/support/clipboard_fixture.h"

namespace lumivane {
namespace {

using platform::EncodableValue;
using platform::kVK_ANSI_V;
using platform::NSApplicationActivateIgnoringOtherApps;
using platform::sim::SimPasteboardEntry;
using platform::sim::SimPasteboardItemContents;
using test_support::ClipboardHostTest;

class PasteTest : public ClipboardHostTest {
 protected:
  EncodableValue paste(const std::string& text) {
    return callSelection("pasteText", EncodableValue(text)).value;
  }
  // Pastes, lets every deferred step run, and checks that the editor
  // inserted `text` and the user's clipboard came back.
  void expectPastedIntoEditor(const std::string& text) {
    EXPECT_EQ(paste(text), EncodableValue(true));
    desktop.advance(2);
    ASSERT_FALSE(editor->insertions().empty());
    EXPECT_EQ(editor->insertions().back().text, text);
    EXPECT_TRUE(clipboardIsTheUsers());
  }
};

TEST_F(PasteTest, TextIsPastedAtThreeTenthsAndTheClipboardBackAtEightTenths) {
  launch();
  const double t0 = desktop.now();
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  // Only plain text, nothing of the user's left beside it.
  EXPECT_EQ(desktop.generalPasteboard().contents(),
            (std::vector<SimPasteboardItemContents>{{SimPasteboardEntry::text("new text")}}));
  EXPECT_FALSE(panel()->isVisible());
  EXPECT_EQ(editor->activationRequests(),
            std::vector<std::uint32_t>{NSApplicationActivateIgnoringOtherApps});

  desktop.advance(0.299);
  EXPECT_EQ(desktop.workspace().frontmost(), editor);
  EXPECT_TRUE(postedChords().empty());
  desktop.advance(0.001);
  EXPECT_EQ(postedChords(), (std::vector<std::string>{"V down -> hid", "V up -> hid"}));
  ASSERT_EQ(editor->insertions().size(), 1u);
  EXPECT_EQ(editor->insertions()[0].text, "new text");
  EXPECT_NEAR(editor->insertions()[0].time - t0, 0.3, 1e-9);

  desktop.advance(0.499);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "new text");
  desktop.advance(0.001);
  EXPECT_TRUE(clipboardIsTheUsers());
}

TEST_F(PasteTest, WithoutPermissionNothingIsTouched) {
  desktop.accessibility().setTrusted(false);
  launch();
  const auto opsBefore = desktop.generalPasteboard().operations().size();
  EXPECT_EQ(paste("new text"), EncodableValue(false));
  desktop.advance(2);
  EXPECT_EQ(desktop.generalPasteboard().operations().size(), opsBefore);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_TRUE(editor->activationRequests().empty());
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(desktop.accessibility().promptTimes().empty());
}

// The user must not wait the extra half second for a paste that cannot
// happen; the panel has gone all the same.
TEST_F(PasteTest, ChordThatCannotBeBuiltGivesTheClipboardBackAtThreeTenths) {
  desktop.keyboardEvents().setRefusesKeyDownCreation(true);
  launch();
  const double t0 = desktop.now();
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  EXPECT_FALSE(panel()->isVisible());
  desktop.advance(0.299);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "new text");
  desktop.advance(0.001);
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_NEAR(lastHostPasteboardChange() - t0, 0.3, 1e-9);
  desktop.advance(1);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(editor->insertions().empty());
}

TEST_F(PasteTest, EmptyTextIsPastedLikeAnyOther) {
  launch();
  EXPECT_EQ(paste(""), EncodableValue(true));
  desktop.advance(0.3);
  ASSERT_EQ(editor->insertions().size(), 1u);
  EXPECT_EQ(editor->insertions()[0].text, "");
}

// Nothing of the user's to put back: the pasted text stays.
TEST_F(PasteTest, TextStaysWhenTheClipboardHadNothingToRestore) {
  for (bool noItemList : {false, true}) {
    SCOPED_TRACE(noItemList ? "no item list" : "empty");
    desktop.generalPasteboard().setContents({});
    desktop.generalPasteboard().setReportsNoItemList(noItemList);
    if (!peer)
      launch();
    EXPECT_EQ(paste("new text"), EncodableValue(true));
    desktop.advance(2);
    EXPECT_EQ(desktop.generalPasteboard().plainText(), "new text");
  }
}

// Both chords paste the later text; the user's clipboard comes back once,
// after the later paste, not in between.
TEST_F(PasteTest, TwoPastesAFifthOfASecondApartEndWithTheUsersClipboard) {
  launch();
  const double t0 = desktop.now();
  EXPECT_EQ(paste("first"), EncodableValue(true));
  desktop.advance(0.2);
  EXPECT_EQ(paste("second"), EncodableValue(true));
  desktop.advance(0.799);
  ASSERT_EQ(editor->insertions().size(), 2u);
  EXPECT_EQ(editor->insertions()[0].text, "second");
  EXPECT_EQ(editor->insertions()[1].text, "second");
  EXPECT_NEAR(chordTimes(kVK_ANSI_V)[0] - t0, 0.3, 1e-9);
  EXPECT_NEAR(chordTimes(kVK_ANSI_V)[1] - t0, 0.5, 1e-9);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "second");
  desktop.advance(0.001);
  EXPECT_TRUE(clipboardIsTheUsers());
  desktop.advance(2);
  EXPECT_TRUE(clipboardIsTheUsers());
}

// Bringing the application forward is up to the system and takes time; the
// chord waits three tenths of a second for it. Past that, or when the system
// keeps the application behind although it accepted the request, the chord
// reaches nobody who pastes, and the user's clipboard still comes back.
TEST_F(PasteTest, ChordWaitsForTheApplicationToComeForward) {
  launch();
  editor->setActivationDelay(0.25);
  expectPastedIntoEditor("first");

  for (const bool comesForward : {true, false}) {
    SCOPED_TRACE(comesForward);
    desktop.workspace().activateHost();
    desktop.runUntilIdle();
    editor->setActivationDelay(0.4);
    editor->setComesForward(comesForward);
    EXPECT_EQ(paste("late"), EncodableValue(true));
    desktop.advance(2);
    EXPECT_EQ(editor->insertions().size(), 1u);
    EXPECT_TRUE(clipboardIsTheUsers());
  }
}

TEST_F(PasteTest, DelegateReleasedBeforeTheChordLeavesTheTextAndSendsNothing) {
  launch();
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  desktop.advance(0.1);
  releaseDelegate();
  desktop.advance(2);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "new text");
}

// Quitting while a paste is pending: the steps that would put the user's
// clipboard back never run once the host has gone, so it comes back at once;
// a chord not yet sent stays unsent, or it would paste the user's contents.
TEST_F(PasteTest, QuittingBeforeTheChordPutsTheClipboardBackAndSendsNothing) {
  launch();
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  desktop.advance(0.1);
  desktop.application().terminate();
  EXPECT_TRUE(clipboardIsTheUsers());
  desktop.advance(2);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(editor->insertions().empty());
  EXPECT_TRUE(clipboardIsTheUsers());
}

}  // namespace
}  // namespace lumivane
