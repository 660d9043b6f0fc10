#include <gtest/gtest.h>

#include <cmath>

#include "tests/support/clipboard_fixture.h"

namespace lumivane {
namespace {

using platform::EncodableValue;
using platform::kVK_ANSI_C;
using platform::kVK_ANSI_V;
using test_support::ClipboardHostTest;

// How captures and pastes share the user's clipboard when they overlap: each
// waits for the pasteboard to be free, so none sees another's temporary
// contents and the user's clipboard comes back at the end.
class ClipboardLeaseTest : public ClipboardHostTest {
 protected:
  void SetUp() override {
    ClipboardHostTest::SetUp();
    launch();
    t0 = desktop.now();
  }

  EncodableValue paste(const std::string& text) {
    return callSelection("pasteText", EncodableValue(text)).value;
  }
  // Key-down times of a chord, counted from the start of the test.
  std::vector<double> chordsAt(platform::CGKeyCode key) {
    std::vector<double> times = chordTimes(key);
    for (double& t : times)
      t = std::round((t - t0) * 1000) / 1000;
    return times;
  }
  std::vector<std::string> insertedTexts() {
    std::vector<std::string> texts;
    for (const auto& insertion : editor->insertions())
      texts.push_back(insertion.text.value_or("-"));
    return texts;
  }

  double t0 = 0;
};

// Only the panel answers triggers beyond the one capture that may wait.
TEST_F(ClipboardLeaseTest, BurstOfTriggersRunsOneCaptureAndQueuesOneMore) {
  editor->setCopyDelay(0.5);
  for (int i = 0; i < 4; ++i) {
    panel()->orderOut();
    pressHotKey();
    EXPECT_TRUE(panel()->isVisible()) << i;
  }
  panel()->orderOut();
  desktop.statusBar().clickStatusItem(platform::EventType::leftMouseUp);
  desktop.advance(5);
  EXPECT_EQ(chordsAt(kVK_ANSI_C), (std::vector<double>{0, 0.5}));
  EXPECT_EQ(selectionUpdates(), (std::vector<std::string>{"selected text", "selected text"}));
  EXPECT_EQ(desktop.clock().peakWorkerBlocks(), 1u);
  EXPECT_TRUE(clipboardIsTheUsers());
}

TEST_F(ClipboardLeaseTest, PasteDuringACaptureStartsWhenTheCaptureHasFinished) {
  editor->setCopyDelay(0.5);
  pressHotKey();
  desktop.advance(0.1);
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  EXPECT_NE(desktop.generalPasteboard().plainText(), "new text");
  desktop.advance(0.4);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "new text");
  desktop.advance(2);
  EXPECT_EQ(chordsAt(kVK_ANSI_V), std::vector<double>{0.8});
  EXPECT_EQ(insertedTexts(), std::vector<std::string>{"new text"});
  EXPECT_NEAR(lastHostPasteboardChange() - t0, 1.3, 1e-9);
  EXPECT_TRUE(clipboardIsTheUsers());
}

// A paste waiting behind a capture goes to the application that was recorded
// when it was asked for, whatever the user brings forward meanwhile.
TEST_F(ClipboardLeaseTest, APasteWaitingBehindACaptureKeepsTheTargetItWasAskedFor) {
  editor->setCopyDelay(0.5);
  pressHotKey();
  desktop.advance(0.1);
  EXPECT_EQ(paste("for the editor"), EncodableValue(true));
  auto mail = frontApp("Mail", 202);
  ASSERT_EQ(host().lastActiveApplication(), mail);
  desktop.advance(3);
  EXPECT_EQ(insertedTexts(), std::vector<std::string>{"for the editor"});
  EXPECT_TRUE(mail->insertions().empty());
  EXPECT_EQ(editor->activationRequests().size(), 1u);
  EXPECT_TRUE(clipboardIsTheUsers());
}

TEST_F(ClipboardLeaseTest, CaptureDuringAPasteStartsWhenThePasteHasPutTheClipboardBack) {
  EXPECT_EQ(paste("new text"), EncodableValue(true));
  desktop.advance(0.1);
  pressHotKey();
  EXPECT_TRUE(panel()->isVisible());
  // The panel took the focus; the user goes back to the editor before the
  // chord, so that it lands there.
  desktop.bringToFront(editor);
  desktop.advance(0.699);
  EXPECT_TRUE(chordsAt(kVK_ANSI_C).empty());
  desktop.advance(0.2);
  EXPECT_EQ(chordsAt(kVK_ANSI_C), std::vector<double>{0.8});
  EXPECT_EQ(insertedTexts(), std::vector<std::string>{"new text"});
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_TRUE(clipboardIsTheUsers());
}

// Work waits in arrival order: a paste never overtakes a capture that was
// waiting before it, and it does not join a paste that started earlier.
TEST_F(ClipboardLeaseTest, WaitingWorkRunsInArrivalOrder) {
  EXPECT_EQ(paste("first"), EncodableValue(true));
  desktop.advance(0.1);
  pressHotKey();
  desktop.bringToFront(editor);
  desktop.advance(0.1);
  EXPECT_EQ(paste("second"), EncodableValue(true));
  desktop.advance(5);
  EXPECT_EQ(chordsAt(kVK_ANSI_V), (std::vector<double>{0.3, 1.2}));
  EXPECT_EQ(chordsAt(kVK_ANSI_C), std::vector<double>{0.8});
  EXPECT_EQ(insertedTexts(), (std::vector<std::string>{"first", "second"}));
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_TRUE(clipboardIsTheUsers());
}

// Pastes that queued behind the same capture start together and share one
// saved copy of the user's clipboard.
TEST_F(ClipboardLeaseTest, PastesQueuedTogetherStartTogether) {
  editor->setCopyDelay(0.5);
  pressHotKey();
  EXPECT_EQ(paste("first"), EncodableValue(true));
  EXPECT_EQ(paste("second"), EncodableValue(true));
  desktop.advance(5);
  EXPECT_EQ(chordsAt(kVK_ANSI_V), (std::vector<double>{0.8, 0.8}));
  EXPECT_EQ(insertedTexts(), (std::vector<std::string>{"second", "second"}));
  EXPECT_TRUE(clipboardIsTheUsers());
}

// The interface's own request blocks the main thread; it must not empty the
// pasteboard under a capture that is still polling on a worker.
TEST_F(ClipboardLeaseTest, GetSelectionWaitsForTheBackgroundCapture) {
  editor->setCopyDelay(0.3);
  pressHotKey();
  desktop.advance(0.1);
  auto reply = callSelection("getSelection");
  EXPECT_EQ(reply.value, EncodableValue("selected text"));
  EXPECT_EQ(chordsAt(kVK_ANSI_C), (std::vector<double>{0, 0.3}));
  desktop.advance(1);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_TRUE(clipboardIsTheUsers());
}

// A pending paste's chord must still find its own text, whatever the
// interface's request for the selection did to the pasteboard meanwhile.
TEST_F(ClipboardLeaseTest, GetSelectionDuringAPasteLeavesThePasteItsText) {
  for (bool noItemList : {false, true}) {
    SCOPED_TRACE(noItemList ? "no item list" : "item list");
    desktop.generalPasteboard().setReportsNoItemList(noItemList);
    EXPECT_EQ(paste("new text"), EncodableValue(true));
    desktop.advance(0.1);
    EXPECT_EQ(callSelection("getSelection").value, EncodableValue("selected text"));
    desktop.advance(2);
    ASSERT_FALSE(editor->insertions().empty());
    EXPECT_EQ(editor->insertions().back().text, "new text");
  }
  desktop.generalPasteboard().setReportsNoItemList(false);
  EXPECT_EQ(editor->insertions().size(), 2u);
}

}  // namespace
}  // namespace lumivane
