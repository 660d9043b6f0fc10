// How the host's life ends, and what it leaves of the user's clipboard.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <ostream>
#include <string>

#include "tests/e2e/e2e_test.h"

namespace lumivane::e2e {
namespace {

using test_support::waitUntil;

constexpr const char* kText = "The quick brown fox";

class SystemTest : public E2eTest {
 protected:
  // The host, and an editor holding kText, all of it selected.
  void startWithSelection() {
    host = desktop().startHost();
    ASSERT_NE(host, nullptr);
    editor = desktop().startEditor(l3afpad());
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->typeAndSelectAll(kText));
  }

  // The user brings the editor forward and presses `keys`; the selection
  // comes.
  void captureWith(const std::string& keys) {
    ASSERT_TRUE(editor->activate());
    ASSERT_TRUE(desktop().xdotool({"key", "--clearmodifiers", keys}));
    const auto selection = host->waitForEvent("updateSelection");
    ASSERT_TRUE(selection) << keys << " brought no selection";
    EXPECT_EQ(selection->value("text", ""), kText);
  }

  HostProcess* host = nullptr;
  Editor* editor = nullptr;
};

// How the host's life ends.
enum class Ending { consoleQuit, trayMenuQuit, logout };

std::string endingName(const ::testing::TestParamInfo<Ending>& info) {
  switch (info.param) {
    case Ending::consoleQuit:
      return "QuitFromTheInterface";
    case Ending::trayMenuQuit:
      return "QuitFromTheTrayMenu";
    case Ending::logout:
      return "SIGTERM";
  }
  return "";
}

void PrintTo(Ending ending, std::ostream* out) {
  *out << endingName(::testing::TestParamInfo<Ending>(ending, 0));
}

class EndingTest : public SystemTest, public ::testing::WithParamInterface<Ending> {};

// After a capture the host owns the user's clipboard (it put it back). When
// the host goes, the clipboard stays: another client still reads every
// target, byte for byte, from whoever holds it now.
TEST_P(EndingTest, TheUsersClipboardOutlivesTheHost) {
  ASSERT_TRUE(desktop().startTray());
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  const auto clipboard = richClipboard();
  ASSERT_NE(desktop().offerClipboard(clipboard), nullptr);
  ASSERT_NO_FATAL_FAILURE(captureWith("ctrl+shift+t"));
  std::string why;
  ASSERT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
  const xcb_window_t hostsClipboard = desktop().clipboardOwner();

  switch (GetParam()) {
    case Ending::consoleQuit:
      EXPECT_EQ(host->quit(), 0);
      break;
    case Ending::trayMenuQuit: {
      xcb_window_t icon = XCB_WINDOW_NONE;
      ASSERT_TRUE(
          waitUntil([&] { return (icon = desktop().trayIcon()) != XCB_WINDOW_NONE; }, kBound));
      ASSERT_TRUE(desktop().click(icon, 3));
      xcb_window_t menu = XCB_WINDOW_NONE;
      ASSERT_TRUE(
          waitUntil([&] { return (menu = desktop().hostMenu()) != XCB_WINDOW_NONE; }, kBound))
          << "no menu";
      // Its one entry: Quit.
      ASSERT_TRUE(desktop().click(menu, 1));
      EXPECT_EQ(host->process().waitForExit(kBound), 0);
      break;
    }
    case Ending::logout:
      EXPECT_EQ(host->terminate(), 0);
      break;
  }
  const xcb_window_t owner = desktop().clipboardOwner();
  EXPECT_NE(owner, XCB_WINDOW_NONE);
  EXPECT_NE(owner, hostsClipboard);
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
}

INSTANTIATE_TEST_SUITE_P(Endings,
                         EndingTest,
                         ::testing::Values(Ending::consoleQuit,
                                           Ending::trayMenuQuit,
                                           Ending::logout),
                         endingName);

// What the host is in the middle of when it is told to end.
enum class Moment { pasting, capturing };

struct Interruption {
  Moment moment;
  Ending ending;
  std::string name;
};

void PrintTo(const Interruption& interruption, std::ostream* out) {
  *out << interruption.name;
}

class InterruptedTest : public SystemTest, public ::testing::WithParamInterface<Interruption> {};

// Told to end in the middle of a paste (its text on the clipboard, the
// user's contents saved until the paste has gone out) or of a capture (the
// clipboard emptied for the copy), the host still leaves the user's clipboard
// behind and exits cleanly.
TEST_P(InterruptedTest, TheUsersClipboardOutlivesAHostEndedMidway) {
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  const auto clipboard = richClipboard();
  RawOwner* owner = desktop().offerClipboard(clipboard);
  ASSERT_NE(owner, nullptr);
  if (GetParam().moment == Moment::pasting) {
    const auto reply = host->call("selection", "pasteText", "\"the pasted words\"");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->value("result", false), true) << reply->dump();
  } else {
    ASSERT_TRUE(desktop().pressHotKey());
    // The capture has begun once the host has emptied the clipboard.
    ASSERT_TRUE(desktop().waitUntilClipboardOwnerIsNot(owner->window()));
  }
  if (GetParam().ending == Ending::consoleQuit)
    EXPECT_EQ(host->quit(), 0);
  else
    EXPECT_EQ(host->terminate(), 0);
  std::string why;
  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
}

INSTANTIATE_TEST_SUITE_P(
    Endings,
    InterruptedTest,
    ::testing::Values(Interruption{Moment::pasting, Ending::consoleQuit, "QuitWhilePasting"},
                      Interruption{Moment::pasting, Ending::logout, "SIGTERMWhilePasting"},
                      Interruption{Moment::capturing, Ending::consoleQuit, "QuitWhileCapturing"},
                      Interruption{Moment::capturing, Ending::logout, "SIGTERMWhileCapturing"}),
    [](const ::testing::TestParamInfo<Interruption>& info) { return info.param.name; });

}  // namespace
}  // namespace lumivane::e2e
