#include <gtest/gtest.h>

#include "tests/support/clipboard_fixture.h"

namespace lumivane {
namespace {

using platform::sim::CopyBehaviour;
using test_support::ClipboardHostTest;

class SelectionCaptureTest : public ClipboardHostTest {
 protected:
  // Launches and presses the hot key; returns the time of the press.
  double launchAndPressHotKey() {
    launch();
    return pressHotKey();
  }
};

TEST_F(SelectionCaptureTest, HotKeyCapturesTheFrontSelectionAndRestoresTheClipboard) {
  launch();
  desktop.bringToFront(editor);
  desktop.runUntilIdle();
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.099);
  EXPECT_TRUE(selectionUpdates().empty());
  desktop.advance(0.001);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_EQ(postedChords(), (std::vector<std::string>{"C down -> 201", "C up -> 201"}));
}

TEST_F(SelectionCaptureTest, NothingCopiedMeansTheWholeSecondIsWaitedAndNothingSent) {
  editor->setCopyBehaviour(CopyBehaviour::nothing);
  const double t0 = launchAndPressHotKey();
  desktop.advance(0.999);
  EXPECT_TRUE(desktop.generalPasteboard().contents().empty());
  desktop.advance(0.001);
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_NEAR(lastHostPasteboardChange() - t0, 1.0, 1e-9);
  desktop.advance(2);
  EXPECT_TRUE(selectionUpdates().empty());
}

// Polling wants non-empty plain text; an image or an empty string is no
// selection, and the user gets the clipboard back after the full second.
TEST_F(SelectionCaptureTest, AnImageOrAnEmptyStringIsNotASelection) {
  launch();
  for (bool image : {true, false}) {
    SCOPED_TRACE(image ? "image" : "empty string");
    editor->setCopyBehaviour(image ? CopyBehaviour::image : CopyBehaviour::text);
    editor->setSelection("");
    panel()->orderOut();
    const double t0 = desktop.now();
    desktop.hotKeys().pressKey(17, 0x300);
    desktop.advance(2);
    EXPECT_NEAR(editor->copyTimes().back() - t0, 0.05, 1e-9);
    EXPECT_TRUE(clipboardIsTheUsers());
    EXPECT_NEAR(lastHostPasteboardChange() - t0, 1.0, 1e-9);
  }
  EXPECT_TRUE(selectionUpdates().empty());
}

TEST_F(SelectionCaptureTest, WhitespaceSelectionIsDeliveredUnchanged) {
  editor->setSelection(" \n\t  \r\n");
  launchAndPressHotKey();
  desktop.advance(0.1);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{" \n\t  \r\n"});
}

TEST_F(SelectionCaptureTest, WithoutPermissionOnlyThePanelShows) {
  desktop.accessibility().setTrusted(false);
  launch();
  panel()->orderOut();
  const auto opsBefore = desktop.generalPasteboard().operations().size();
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(2);
  EXPECT_TRUE(panel()->isVisible());
  EXPECT_EQ(desktop.generalPasteboard().operations().size(), opsBefore);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(selectionUpdates().empty());
  EXPECT_TRUE(desktop.accessibility().promptTimes().empty());
}

TEST_F(SelectionCaptureTest, WithNoApplicationRecordedTheClipboardIsBackAtOnce) {
  desktop.workspace().activateHost();
  desktop.runUntilIdle();
  const double t0 = launchAndPressHotKey();
  desktop.advance(2);
  EXPECT_NEAR(lastHostPasteboardChange(), t0, 1e-9);
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(selectionUpdates().empty());
}

TEST_F(SelectionCaptureTest, ChordThatCannotBeBuiltGivesTheClipboardBackAtOnce) {
  desktop.keyboardEvents().setRefusesKeyUpCreation(true);
  const double t0 = launchAndPressHotKey();
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_NEAR(lastHostPasteboardChange(), t0, 1e-9);
  desktop.advance(2);
  EXPECT_TRUE(postedChords().empty());
  EXPECT_TRUE(selectionUpdates().empty());
}

TEST_F(SelectionCaptureTest, WithoutASelectionChannelTheTextIsDropped) {
  launch();
  host().selectionChannel.reset();
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(2);
  EXPECT_EQ(editor->copyTimes().size(), 1u);
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_TRUE(selectionUpdates().empty());
}

// A capture under way when the delegate goes still puts the clipboard back,
// but nothing reaches the interface.
TEST_F(SelectionCaptureTest, DelegateReleasedDuringACaptureSendsNothing) {
  editor->setCopyDelay(0.35);
  launchAndPressHotKey();
  desktop.advance(0.15);
  releaseDelegate();
  desktop.advance(2);
  EXPECT_TRUE(clipboardIsTheUsers());
  EXPECT_TRUE(selectionUpdates().empty());
}

// Quitting while a capture's worker has the clipboard: the host waits for the
// worker, which puts the user's clipboard back, before it goes.
TEST_F(SelectionCaptureTest, QuittingDuringACaptureWaitsForTheClipboardToComeBack) {
  editor->setCopyDelay(0.25);
  launchAndPressHotKey();
  desktop.advance(0.15);
  ASSERT_FALSE(clipboardIsTheUsers());
  desktop.application().terminate();
  EXPECT_TRUE(clipboardIsTheUsers());
}

}  // namespace
}  // namespace lumivane
