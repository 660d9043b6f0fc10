// The host with Lumivane's own interface in its panel, used as a user uses
// it: keys typed on the keyboard, the window manager's focus, the editor's own
// clipboard, nothing called inside the host.
#include <fstream>
#include <iostream>
#include <string>

#include "tests/e2e/e2e_test.h"
#include "tests/support/wait_until.h"

namespace lumivane::e2e {
namespace {

using PanelTest = E2eTest;

std::string firstBytes(const std::filesystem::path& file, std::size_t count) {
  std::ifstream in(file, std::ios::binary);
  std::string bytes(count, '\0');
  in.read(bytes.data(), static_cast<std::streamsize>(count));
  bytes.resize(static_cast<std::size_t>(in.gcount()));
  return bytes;
}

// Text selected in an editor is captured into the panel, corrected there by
// typed keys, and put back with Insert: the editor then holds the corrected
// text, and the clipboard is the user's again. A picture of the panel holding
// the captured text is kept with the test's output.
TEST_F(PanelTest, SelectedTextIsEditedInThePanelAndInsertedBack) {
  const std::string written = "Teh quick brown fox jumps over the lazy dog.";
  const std::string corrected = "The quick brown fox jumps over the lazy dog. Thanks!";
  Editor* editor = desktop().startEditor(l3afpad(), written);
  ASSERT_NE(editor, nullptr);
  const auto clipboard = richClipboard();
  RawOwner* owner = desktop().offerClipboard(clipboard);
  ASSERT_NE(owner, nullptr);
  HostProcess* host = desktop().startHost({}, Interface::panel);
  ASSERT_NE(host, nullptr) << "the panel never showed";
  const xcb_window_t panel = desktop().hostPanel();

  ASSERT_TRUE(editor->activate());
  ASSERT_TRUE(editor->key("ctrl+a"));
  ASSERT_TRUE(desktop().pressHotKey());
  // The capture takes the clipboard for the editor's copy, and gives the
  // user's back before the text goes to the panel; the panel then has the
  // keyboard again.
  ASSERT_TRUE(desktop().waitUntilClipboardOwnerIsNot(owner->window()));
  std::string why;
  ASSERT_TRUE(desktop().waitUntilClipboardHolds(clipboard, &why)) << why;
  ASSERT_TRUE(test_support::waitUntil(
      [&] { return desktop().viewable(panel) && desktop().activeWindowBelongsTo(host->pid()); },
      kBound));

  const std::filesystem::path picture =
      std::filesystem::path(LUMIVANE_SCREENSHOT_DIR) / "panel-with-captured-text.png";
  ASSERT_TRUE(desktop().screenshot(panel, picture));
  EXPECT_EQ(firstBytes(picture, 8), "\x89PNG\r\n\x1a\n");
  std::cout << "the panel: " << picture.string() << "\n";

  // The first word corrected, a word added at the end, then Insert (its
  // mnemonic: the keyboard's way to press the button).
  ASSERT_TRUE(desktop().xdotool({"key", "ctrl+Home", "ctrl+shift+Right"}));
  ASSERT_TRUE(desktop().xdotool({"type", "The"}));
  ASSERT_TRUE(desktop().xdotool({"key", "ctrl+End"}));
  ASSERT_TRUE(desktop().xdotool({"type", " Thanks!"}));
  ASSERT_TRUE(desktop().xdotool({"key", "alt+i"}));

  // The paste borrows the clipboard, and gives it back once the editor has
  // the text.
  EXPECT_EQ(editor->savedTextOnceItIs(corrected), corrected);
  EXPECT_TRUE(desktop().waitUntilClipboardHolds(clipboard, &why)) << why;
}

}  // namespace
}  // namespace lumivane::e2e
