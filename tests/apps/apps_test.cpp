// The hot key and the paste in real applications, each started once per
// suite on a private desktop with the host: the user's selection arrives, the
// interface's text replaces it, and the user's clipboard and PRIMARY are as
// they were, with nothing else happening in the application.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <memory>

#include "platform/x11/x11_ewmh.h"
#include "tests/apps/applications.h"
#include "tests/support/wait_until.h"

namespace lumivane::apps {
namespace {

using e2e::ClipboardTarget;
using e2e::HostProcess;
using e2e::kBound;
using test_support::waitUntil;

constexpr const char* kPasted = "the pasted words";

class AppsTest : public ::testing::Test {
 protected:
  // The desktop, the host (with the user's profiles file holding
  // `userProfiles`, when given) and the application, once per suite.
  static void startOnce(App app, const std::string& userProfiles = "") {
    if (failed_)
      GTEST_SKIP() << "the suite's application did not start";
    if (desktop_)
      return;
    failed_ = true;
    desktop_ = std::make_unique<Desktop>();
    ASSERT_TRUE(desktop_->ready()) << desktop_->failure();
    if (!userProfiles.empty()) {
      const auto folder = desktop_->session().configHome() / "lumivane";
      std::filesystem::create_directories(folder);
      std::ofstream(folder / "applications.conf") << userProfiles;
    }
    host_ = desktop_->startHost();
    ASSERT_NE(host_, nullptr);
    editor_ = start(*desktop_, app);
    ASSERT_NE(editor_, nullptr);
    failed_ = false;
  }

  static void TearDownTestSuite() {
    desktop_.reset();
    failed_ = false;
  }

  void TearDown() override {
    if (!HasFailure() || !host_)
      return;
    std::string events;
    for (const auto& event : host_->events())
      events += event.dump() + "\n";
    ADD_FAILURE() << "the host's console:\n"
                  << events << "its standard error:\n"
                  << host_->standardError();
  }

  // With the user's clipboard and PRIMARY from another application: the
  // selection, the hot key, the selection arriving, the interface's text
  // pasted over it, and the application holding it. A copy that takes
  // `captured` rather than the selection leaves that selected: the paste
  // replaces it.
  void captureAndPaste(App app, const std::string& captured = "") {
    Desktop& desktop = *desktop_;
    const Workflow work = workflow(desktop, *editor_, app);
    const std::vector<ClipboardTarget> clipboard = {
        {"text/plain", "the user's own words"},
        {"text/html", "<p>the user's <b>own</b> words</p>"},
        {"image/png", e2e::noise(std::size_t{64} << 10, 11)}};
    ASSERT_NE(desktop.offerClipboard(clipboard), nullptr);
    test_support::RawOwner::Behaviour primary;
    primary.selection = "PRIMARY";
    ASSERT_NE(desktop.offerClipboard({{"UTF8_STRING", "the user's primary"}}, primary), nullptr);

    // An application may still be loading what it shows: selecting again
    // does no harm.
    std::optional<std::string> primaryText;
    ASSERT_TRUE(waitUntil(
        [&] {
          return work.select() && waitUntil(
                                      [&] {
                                        primaryText =
                                            desktop.readClipboard("UTF8_STRING", kBound, "primary");
                                        return primaryText == work.selected;
                                      },
                                      5);
        },
        kBound))
        << "the application did not select \"" << work.selected << "\"; PRIMARY holds \""
        << primaryText.value_or("(nothing)") << "\"";
    const auto primaryBefore = desktop.clipboardContents("primary");

    ASSERT_TRUE(desktop.pressHotKey());
    const auto selection = host_->waitForEvent("updateSelection");
    ASSERT_TRUE(selection);
    EXPECT_EQ(selection->value("text", ""), captured.empty() ? work.selected : captured);
    std::string why;
    EXPECT_TRUE(desktop.clipboardHolds(clipboard, &why)) << why;

    const auto reply = host_->call("selection", "pasteText", std::string("\"") + kPasted + "\"");
    ASSERT_TRUE(reply);
    ASSERT_EQ(reply->value("result", false), true) << reply->dump();
    EXPECT_TRUE(desktop.waitUntilClipboardHolds(clipboard, &why)) << why;
    const std::string expected = captured.empty() ? work.after(kPasted) : kPasted;
    std::optional<std::string> text;
    EXPECT_TRUE(waitUntil([&] { return (text = work.text()) == expected; }, kBound))
        << "the application holds \"" << text.value_or("(unreadable)") << "\", not \"" << expected
        << "\"";
    // PRIMARY is the application's, or what it was before the paste.
    if (primaryOwnerProcess() == host_->pid()) {
      EXPECT_EQ(desktop.clipboardContents("primary"), primaryBefore);
    }
  }

  // The process of PRIMARY's owner, as the server knows its client: the
  // window a selection is owned with is often one nobody sees.
  static std::optional<pid_t> primaryOwnerProcess() {
    auto& x = desktop_->user().connection();
    platform::x11::XcbReply<xcb_get_selection_owner_reply_t> owner(xcb_get_selection_owner_reply(
        x.get(), xcb_get_selection_owner(x.get(), XCB_ATOM_PRIMARY), nullptr));
    if (!owner)
      return std::nullopt;
    return platform::x11::Ewmh(x.get(), x.root()).processOf(owner->owner);
  }

  inline static std::unique_ptr<Desktop> desktop_;
  inline static HostProcess* host_ = nullptr;
  inline static Editor* editor_ = nullptr;
  inline static bool failed_ = false;
};

#define APP_SUITE(Suite, app)                 \
  class Suite : public AppsTest {             \
   protected:                                 \
    void SetUp() override { startOnce(app); } \
  }

// Terminals: Control+C would interrupt their program, which must never see
// a SIGINT nor any byte but the pasted text's.
APP_SUITE(Xterm, App::xterm);
TEST_F(Xterm, CapturesTheMouseSelectionAndTypesThePaste) {
  captureAndPaste(App::xterm);
}

APP_SUITE(Xfce4Terminal, App::xfce4Terminal);
TEST_F(Xfce4Terminal, CapturesTheMouseSelectionAndTypesThePaste) {
  captureAndPaste(App::xfce4Terminal);
}

// Emacs: its region is replaced, the buffer does not scroll, and no prefix
// is left pending: what the user types next follows the pasted text.
APP_SUITE(Emacs, App::emacs);
TEST_F(Emacs, ReplacesTheRegionAndLeavesNoPrefixPending) {
  ASSERT_NO_FATAL_FAILURE(captureAndPaste(App::emacs));
  const Workflow work = workflow(*desktop_, *editor_, App::emacs);
  ASSERT_TRUE(editor_->type("!"));
  const std::string expected = work.after(std::string(kPasted) + "!");
  EXPECT_TRUE(waitUntil([&] { return work.text() == expected; }, kBound));
}

// Chromium reads the clipboard over whenever it is activated; the paste's
// own read comes after, and must come before the user's clipboard is back.
APP_SUITE(Chromium, App::chromiumTextarea);
TEST_F(Chromium, PastesOverTheSelectionInATextareaAndAContentEditable) {
  for (int round = 0; round < 5; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    ASSERT_NO_FATAL_FAILURE(captureAndPaste(App::chromiumTextarea));
    ASSERT_NO_FATAL_FAILURE(captureAndPaste(App::chromiumEditable));
  }
}

// Firefox reads only when it pastes.
APP_SUITE(Firefox, App::firefoxTextarea);
TEST_F(Firefox, PastesOverTheSelectionInATextareaAndAContentEditable) {
  ASSERT_NO_FATAL_FAILURE(captureAndPaste(App::firefoxTextarea));
  captureAndPaste(App::firefoxEditable);
}

APP_SUITE(Writer, App::writer);
TEST_F(Writer, ReplacesTheSelection) {
  captureAndPaste(App::writer);
}

APP_SUITE(GnomeTextEditor, App::gnomeTextEditor);
TEST_F(GnomeTextEditor, ReplacesTheSelection) {
  captureAndPaste(App::gnomeTextEditor);
}

// Vim: Control+C and Control+V would change its mode; its Visual selection
// is replaced and it is in Normal mode afterwards.
APP_SUITE(Gvim, App::gvim);
TEST_F(Gvim, ReplacesTheVisualSelection) {
  captureAndPaste(App::gvim);
}

APP_SUITE(KWrite, App::kwrite);
TEST_F(KWrite, ReplacesTheSelection) {
  captureAndPaste(App::kwrite);
}

// The user's own file: an entry that names no key is told on standard error
// and left out, and the rest counts: here copying takes all of the text.
class UserProfiles : public AppsTest {
 protected:
  void SetUp() override {
    startOnce(App::l3afpad,
              "[Mine]\nmatch=l3afpad\ncopy=Control+a Control+c\npaste=Control+v\n"
              "[Broken]\nmatch=l3afpad\ncopy=Control+c\npaste=Control+NoSuchKey\n");
  }
};
TEST_F(UserProfiles, AnEntryOverridesAndABrokenOneIsToldAndLeftOut) {
  EXPECT_NE(host_->standardError().find("[Broken] left out: paste=Control+NoSuchKey"),
            std::string::npos)
      << host_->standardError();
  captureAndPaste(App::l3afpad, kLine);
}

}  // namespace
}  // namespace lumivane::apps
