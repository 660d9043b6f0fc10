// Pasting the interface's text into real editors.

#include <gtest/gtest.h>

#include <string>

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

}  // namespace
}  // namespace lumivane::e2e
