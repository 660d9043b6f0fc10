// Pasting the interface's text into real editors, and the clipboard the host
// serves meanwhile.

#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "tests/e2e/e2e_test.h"

namespace lumivane::e2e {
namespace {

constexpr const char* kTyped = "Dear reader, ";
constexpr const char* kPasted = "the pasted words";

class PasteTest : public E2eTest, public ::testing::WithParamInterface<EditorKind> {
 protected:
  // The host, an editor holding kTyped with the cursor after it, and the
  // user's `clipboard` from another application.
  void startTyping(const EditorKind& kind, const std::vector<ClipboardTarget>& clipboard) {
    host = desktop().startHost();
    ASSERT_NE(host, nullptr);
    editor = desktop().startEditor(kind);
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->type(kTyped));
    owner = desktop().offerClipboard(clipboard);
    ASSERT_NE(owner, nullptr);
  }

  // The interface pastes kPasted; true once the host has put the user's
  // clipboard back.
  void paste(const std::vector<ClipboardTarget>& clipboard) {
    const auto reply = host->call("selection", "pasteText", "\"" + std::string(kPasted) + "\"");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->value("result", false), true) << reply->dump();
    // The text went on the clipboard before the answer.
    ASSERT_NE(desktop().clipboardOwner(), owner->window());
    std::string why;
    ASSERT_TRUE(desktop().waitUntilClipboardHolds(clipboard, &why)) << why;
  }

  HostProcess* host = nullptr;
  Editor* editor = nullptr;
  RawOwner* owner = nullptr;
};

// The text lands in the editor the user was in, and the user's clipboard
// comes back, every target byte for byte.
TEST_P(PasteTest, PasteTextInsertsTheTextAndPutsTheClipboardBack) {
  const auto clipboard = richClipboard();
  ASSERT_NO_FATAL_FAILURE(startTyping(GetParam(), clipboard));
  ASSERT_NO_FATAL_FAILURE(paste(clipboard));
  const std::string expected = std::string(kTyped) + kPasted;
  EXPECT_EQ(editor->savedTextOnceItIs(expected), expected);
  std::string why;
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
}

INSTANTIATE_TEST_SUITE_P(Editors, PasteTest, ::testing::ValuesIn(editors()), editorName);

using ClipboardReadersTest = PasteTest;

// Once a paste has put the user's clipboard back, the host owns it and other
// applications read it from the host. Two of them read a large image at
// once, in increments, and go on while the interface's request for the
// selection holds the host's main thread (and empties the clipboard for the
// copy): both get every byte, and the clipboard is the user's again after.
TEST_F(ClipboardReadersTest, TwoReadersGetTheRightBytesWhileGetSelectionRuns) {
  const std::vector<ClipboardTarget> clipboard = {{"text/plain", "the user's own words"},
                                                  {"image/png", noise(std::size_t{16} << 20, 16)}};
  ASSERT_NO_FATAL_FAILURE(startTyping(l3afpad(), clipboard));
  ASSERT_NO_FATAL_FAILURE(paste(clipboard));
  const std::string text = std::string(kTyped) + kPasted;
  ASSERT_EQ(editor->savedTextOnceItIs(text), text);
  ASSERT_TRUE(editor->key("ctrl+a"));

  IncrementalReader first(desktop().display(), "image/png");
  IncrementalReader second(desktop().display(), "image/png");
  ASSERT_TRUE(first.begin());
  ASSERT_TRUE(second.begin());
  ASSERT_TRUE(host->send("call selection getSelection"));
  ASSERT_TRUE(host->waitForEvent("step"));
  std::optional<std::string> firstBytes;
  std::optional<std::string> secondBytes;
  {
    std::jthread a([&] { firstBytes = first.finish(); });
    std::jthread b([&] { secondBytes = second.finish(); });
  }
  const auto reply = host->waitForEvent("reply");
  ASSERT_TRUE(reply);
  EXPECT_EQ(reply->value("result", ""), text) << reply->dump();
  ASSERT_TRUE(firstBytes);
  ASSERT_TRUE(secondBytes);
  EXPECT_TRUE(*firstBytes == clipboard[1].bytes) << difference(clipboard[1].bytes, *firstBytes);
  EXPECT_TRUE(*secondBytes == clipboard[1].bytes) << difference(clipboard[1].bytes, *secondBytes);
  std::string why;
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
}

}  // namespace
}  // namespace lumivane::e2e
