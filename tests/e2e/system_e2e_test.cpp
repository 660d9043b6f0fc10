// The host's place on the desktop: its hot key among other clients' grabs,
// its tray icon and menu, its ending, and its login item.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <filesystem>
#include <fstream>
#include <ostream>
#include <sstream>
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

// Another application's hot key: a grab on the root window with the chord's
// exact modifiers, as a hot-key daemon makes.
bool grabChord(platform::x11::XcbConnection& other,
               XTestUser& user,
               xcb_keysym_t keysym,
               std::uint16_t modifiers) {
  const auto keycode = user.keycodeOf(keysym);
  return keycode &&
         other.succeeded(xcb_grab_key_checked(other.get(), 1, other.root(), modifiers, *keycode,
                                              XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC));
}

// A chord another application holds cannot be had: the interface hears
// HOTKEY_UNAVAILABLE and the user's chord goes on working. A free chord
// takes over, and the old one is let go for others.
TEST_F(SystemTest, AChordAnotherApplicationHoldsIsRefusedAndTheOldOneStays) {
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  auto other = platform::x11::XcbConnection::open(desktop().display(), nullptr);
  ASSERT_NE(other, nullptr);
  constexpr xcb_keysym_t kK = 0x6b;
  constexpr xcb_keysym_t kT = 0x74;
  const std::uint16_t controlAlt = XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_1;
  ASSERT_TRUE(grabChord(*other, desktop().user(), kK, controlAlt));

  // Command+Option+K and Command+Option+J: Control+Alt+K and +J here.
  const auto refused =
      host->call("system", "setGlobalHotKey", R"({"keyCode": 40, "modifiers": 2304})");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->value("/error/code"_json_pointer, ""), "HOTKEY_UNAVAILABLE")
      << refused->dump();
  ASSERT_NO_FATAL_FAILURE(captureWith("ctrl+shift+t"));

  const auto taken =
      host->call("system", "setGlobalHotKey", R"({"keyCode": 38, "modifiers": 2304})");
  ASSERT_TRUE(taken);
  EXPECT_TRUE(taken->contains("result") && taken->at("result").is_null()) << taken->dump();
  ASSERT_NO_FATAL_FAILURE(captureWith("ctrl+alt+j"));
  EXPECT_TRUE(grabChord(*other, desktop().user(), kT, XCB_MOD_MASK_CONTROL | XCB_MOD_MASK_SHIFT))
      << "the host still holds Control+Shift+T";
}

// The tray icon's left click hides the panel when it is up, and otherwise
// captures the selection and shows it.
TEST_F(SystemTest, TheTrayIconTogglesThePanel) {
  ASSERT_TRUE(desktop().startTray());
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  xcb_window_t panel = XCB_WINDOW_NONE;
  ASSERT_TRUE(waitUntil(
      [&] {
        panel = desktop().hostPanel();
        return panel != XCB_WINDOW_NONE && desktop().viewable(panel);
      },
      kBound))
      << "the panel is up once the host has launched";
  xcb_window_t icon = XCB_WINDOW_NONE;
  ASSERT_TRUE(waitUntil([&] { return (icon = desktop().trayIcon()) != XCB_WINDOW_NONE; }, kBound))
      << "no icon in the tray";
  ASSERT_TRUE(editor->activate());

  ASSERT_TRUE(desktop().click(icon, 1));
  EXPECT_TRUE(waitUntil([&] { return !desktop().viewable(panel); }, kBound));
  ASSERT_TRUE(desktop().click(icon, 1));
  EXPECT_TRUE(waitUntil([&] { return desktop().viewable(panel); }, kBound));
  const auto selection = host->waitForEvent("updateSelection");
  ASSERT_TRUE(selection);
  EXPECT_EQ(selection->value("text", ""), kText);
}

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

std::string readFile(const std::filesystem::path& path) {
  std::ifstream in(path);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

// The value of `key` in a desktop entry; absent when it has none.
std::optional<std::string> entryValue(const std::string& entry, const std::string& key) {
  std::istringstream lines(entry);
  for (std::string line; std::getline(lines, line);) {
    if (line.rfind(key + "=", 0) == 0)
      return line.substr(key.size() + 1);
  }
  return std::nullopt;
}

bool launchesAtLogin(HostProcess& host) {
  const auto reply = host.call("system", "getLaunchAtLogin");
  return reply && reply->value("result", false);
}

// Launch at login is an autostart entry in the user's configuration: turned
// on, it starts this very executable; turned off, it is hidden, which also
// masks an entry a system-wide installation put in place.
TEST_F(SystemTest, LaunchAtLoginWritesAndMasksTheAutostartEntry) {
  const auto systemFolder = desktop().session().directory() / "xdg";
  host = desktop().startHost({{"XDG_CONFIG_DIRS", systemFolder.string()}});
  ASSERT_NE(host, nullptr);
  const auto entry = desktop().session().configHome() / "autostart" / "lumivane.desktop";
  EXPECT_FALSE(launchesAtLogin(*host));

  auto reply = host->call("system", "setLaunchAtLogin", "true");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->contains("result")) << reply->dump();
  const auto written = readFile(entry);
  EXPECT_EQ(entryValue(written, "Exec"),
            std::filesystem::canonical(Desktop::hostExecutable()).string())
      << written;
  EXPECT_NE(entryValue(written, "Hidden"), "true") << written;
  EXPECT_TRUE(launchesAtLogin(*host));

  reply = host->call("system", "setLaunchAtLogin", "false");
  ASSERT_TRUE(reply);
  EXPECT_TRUE(reply->contains("result")) << reply->dump();
  EXPECT_EQ(entryValue(readFile(entry), "Hidden"), "true") << readFile(entry);
  EXPECT_FALSE(launchesAtLogin(*host));

  std::filesystem::create_directories(systemFolder / "autostart");
  std::ofstream(systemFolder / "autostart" / "lumivane.desktop")
      << "[Desktop Entry]\nType=Application\nName=Lumivane\nExec=/usr/bin/lumivane\n";
  EXPECT_FALSE(launchesAtLogin(*host)) << "the system-wide entry is not masked";
  std::filesystem::remove(entry);
  EXPECT_TRUE(launchesAtLogin(*host)) << "the system-wide entry is not seen";
}

}  // namespace
}  // namespace lumivane::e2e
