// Capturing the selection with the hot key, and pasting, in real editors.

#include <gtest/gtest.h>

#include <string>

#include "tests/e2e/e2e_test.h"

namespace lumivane::e2e {
namespace {

constexpr const char* kText = "The quick brown fox";

class EditorClipboardTest : public E2eTest, public ::testing::WithParamInterface<EditorKind> {};

// The user copied in one editor and captures (then pastes) in the other:
// what the first one offers (GTK's or Qt's own targets, TEXT sent as
// COMPOUND_TEXT, text in and beyond Latin-1) comes back target for target,
// byte for byte and type for type, and text beyond Latin-1 goes both ways.
TEST_P(EditorClipboardTest, TheClipboardAnotherEditorOwnsComesBackWhole) {
  HostProcess* host = desktop().startHost();
  ASSERT_NE(host, nullptr);
  const EditorKind& other = GetParam().name == l3afpad().name ? featherpad() : l3afpad();
  const std::string copied = "naïve café ✓ copied";
  Editor* source = desktop().startEditor(other, copied);
  ASSERT_NE(source, nullptr);
  ASSERT_TRUE(source->key("ctrl+a"));
  ASSERT_TRUE(source->key("ctrl+c"));
  ASSERT_TRUE(test_support::waitUntil(
      [&] { return desktop().readClipboard("UTF8_STRING") == copied; }, kBound));
  const auto clipboard = desktop().clipboardContents();
  const auto types = desktop().clipboardTypes();
  ASSERT_FALSE(types.empty());
  const std::string selected = "ünïcödé ✓ selected";
  Editor* editor = desktop().startEditor(GetParam(), selected);
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->key("ctrl+a"));

  ASSERT_TRUE(desktop().pressHotKey());
  const auto selection = host->waitForEvent("updateSelection");
  ASSERT_TRUE(selection);
  EXPECT_EQ(selection->value("text", ""), selected);
  std::string why;
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
  EXPECT_EQ(desktop().clipboardTypes(), types);

  const std::string pasted = "ünïcödé ✓ pasted";
  const auto reply = host->call("selection", "pasteText", Json(pasted).dump());
  ASSERT_TRUE(reply);
  ASSERT_EQ(reply->value("result", false), true) << reply->dump();
  EXPECT_TRUE(desktop().waitUntilClipboardHolds(clipboard, &why)) << why;
  EXPECT_EQ(desktop().clipboardTypes(), types);
  EXPECT_EQ(editor->savedTextOnceItIs(pasted), pasted);
}

INSTANTIATE_TEST_SUITE_P(Editors, EditorClipboardTest, ::testing::ValuesIn(editors()), editorName);

class NoWindowManagerTest : public E2eTest {
 protected:
  XSession::Options sessionOptions() const override { return {.windowManager = false}; }
};

// With no window manager no application is in front, so there is nothing to
// copy from: the hot key and the interface's request get nothing, the
// clipboard the host emptied for the copy is put back, and the host runs on.
TEST_F(NoWindowManagerTest, CapturesFindNothingAndLeaveTheClipboardAsItWas) {
  HostProcess* host = desktop().startHost();
  ASSERT_NE(host, nullptr);
  Editor* editor = desktop().startEditor(l3afpad());
  ASSERT_NE(editor, nullptr);
  ASSERT_TRUE(editor->typeAndSelectAll(kText));
  const auto clipboard = richClipboard();
  RawOwner* owner = desktop().offerClipboard(clipboard);
  ASSERT_NE(owner, nullptr);

  ASSERT_TRUE(desktop().pressHotKey());
  // The capture has begun once the host has emptied the clipboard.
  ASSERT_TRUE(desktop().waitUntilClipboardOwnerIsNot(owner->window()));
  const auto reply = host->call("selection", "getSelection");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->contains("result") && reply->at("result").is_null()) << reply->dump();
  // The interface's request waited for the capture to end; a selection the
  // capture found would be on the console before this reply.
  ASSERT_TRUE(host->call("system", "getLaunchAtLogin"));
  for (const auto& event : host->events())
    EXPECT_NE(event.value("event", ""), "updateSelection") << event.dump();

  std::string why;
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
  EXPECT_EQ(host->quit(), 0);
}

}  // namespace
}  // namespace lumivane::e2e
