#include <gtest/gtest.h>

#include "tests/support/host_fixture.h"

namespace lumivane {
namespace {

using test_support::HostTest;

using SelectionCaptureTest = HostTest;

TEST_F(SelectionCaptureTest, HotKeyCapturesTheFrontSelectionAndRestoresTheClipboard) {
  desktop.generalPasteboard().setString("user's clipboard");
  launch();
  desktop.bringToFront(editor);
  desktop.runUntilIdle();
  desktop.hotKeys().pressKey(17, 0x300);
  desktop.advance(0.099);
  EXPECT_TRUE(selectionUpdates().empty());
  desktop.advance(0.001);
  EXPECT_EQ(selectionUpdates(), std::vector<std::string>{"selected text"});
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "user's clipboard");
  EXPECT_EQ(postedChords(), (std::vector<std::string>{"C down -> 201", "C up -> 201"}));
}

TEST_F(SelectionCaptureTest, PasteRoundTrip) {
  desktop.generalPasteboard().setString("user's clipboard");
  launch();
  auto reply = callSelection("pasteText", platform::EncodableValue("new text"));
  EXPECT_EQ(reply.kind, platform::PeerReply::Kind::success);
  desktop.advance(0.3);
  ASSERT_EQ(editor->insertions().size(), 1u);
  EXPECT_EQ(editor->insertions()[0].text, "new text");
  desktop.advance(0.5);
  EXPECT_EQ(desktop.generalPasteboard().plainText(), "user's clipboard");
}

}  // namespace
}  // namespace lumivane
