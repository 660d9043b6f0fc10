// The Wayland clipboard beyond the pasteboard contract: serving while a
// reader is stuck, the primary selection beside the clipboard, the keeper
// that keeps the clipboard after the host, and what GTK in the host's own
// process copied, on private headless sways with wl-clipboard as the other
// clients.

#include "platform/wayland/wayland_pasteboard.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>
#include <signal.h>

#include "capture/pasteboard_snapshot.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_own_clipboard.h"
#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::NSPasteboardTypeString;
using platform::wayland::WaylandConnection;
using platform::wayland::WaylandPasteboard;
using test_support::processGone;
using test_support::SwaySession;
using test_support::waitUntil;

std::string noise(std::size_t size) {
  std::string bytes(size, '\0');
  for (std::size_t i = 0; i < size; ++i)
    bytes[i] = static_cast<char>((i * 2654435761u) >> 13);
  return bytes;
}

class WaylandPasteboardTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session.ready()) << session.failure();
    std::string error;
    connection = WaylandConnection::open(session.socketPath(), &error);
    ASSERT_TRUE(connection) << error;
    clipboard = open(WaylandPasteboard::Selection::clipboard);
    ASSERT_TRUE(clipboard);
  }

  std::unique_ptr<WaylandPasteboard> open(WaylandPasteboard::Selection selection) {
    WaylandPasteboard::Options options;
    options.selection = selection;
    options.displayName = session.socketPath();
    options.keeperPath = LUMIVANE_CLIPBOARD_KEEPER;
    std::string error;
    auto pasteboard = WaylandPasteboard::open(connection, options, &error);
    EXPECT_TRUE(pasteboard) << error;
    return pasteboard;
  }

  bool write(WaylandPasteboard& pasteboard, const std::string& type, const std::string& bytes) {
    pasteboard.clearContents();
    auto item = pasteboard.makeItem();
    return item->setDataForType(Bytes(bytes.begin(), bytes.end()), type) &&
           pasteboard.writeObjects({item});
  }

  SwaySession session{SwaySession::Options{.xwayland = false, .sessionBus = false}};
  std::shared_ptr<WaylandConnection> connection;
  std::unique_ptr<WaylandPasteboard> clipboard;
};

// A reader that stops taking the host's 8 MiB holds up nobody: another reader
// gets them whole meanwhile, and each asks the host once.
TEST_F(WaylandPasteboardTest, AStuckReaderDoesNotStopAnotherBeingServed) {
  const std::string big = noise(8 << 20);
  ASSERT_TRUE(write(*clipboard, "image/png", big));
  const auto served = clipboard->readsServed();
  // Its output is never read: once that pipe is full it stops reading ours.
  session.spawn({"wl-paste", "-t", "image/png"}, {}, /*pipeInput=*/false, /*pipeOutput=*/true);
  ASSERT_TRUE(clipboard->waitForReadsServed(served, std::chrono::seconds(30)));
  EXPECT_TRUE(session.readClipboard("image/png", false, 30) == big);
  EXPECT_GE(clipboard->readsServed(), served + 2);
}

// The primary selection is a pasteboard of its own: what either holds, and
// what the host writes to one, leaves the other as it was.
TEST_F(WaylandPasteboardTest, PrimaryAndClipboardStayApart) {
  auto primary = open(WaylandPasteboard::Selection::primary);
  ASSERT_TRUE(primary);
  ASSERT_TRUE(session.offerClipboard("text/plain;charset=utf-8", "clipboard's"));
  ASSERT_TRUE(session.offerClipboard("text/plain;charset=utf-8", "primary's", /*primary=*/true));
  EXPECT_EQ(clipboard->stringForType(NSPasteboardTypeString), "clipboard's");
  EXPECT_EQ(primary->stringForType(NSPasteboardTypeString), "primary's");

  const auto clipboardCount = clipboard->changeCount();
  ASSERT_TRUE(write(*primary, NSPasteboardTypeString, "host's"));
  EXPECT_EQ(session.readClipboard("text/plain;charset=utf-8", /*primary=*/true), "host's");
  EXPECT_EQ(session.readClipboard("text/plain;charset=utf-8"), "clipboard's");
  EXPECT_EQ(clipboard->changeCount(), clipboardCount);
  EXPECT_EQ(clipboard->stringForType(NSPasteboardTypeString), "clipboard's");
}

// When the host goes, a keeper serves its clipboard, every type byte for
// byte, until another client copies; then it ends.
TEST_F(WaylandPasteboardTest, TheHostsClipboardOutlivesItThroughTheKeeper) {
  const std::string image = noise(3 << 20);
  clipboard->clearContents();
  auto item = clipboard->makeItem();
  ASSERT_TRUE(item->setDataForType(Bytes{'k', 'e', 'p', 't'}, NSPasteboardTypeString));
  ASSERT_TRUE(item->setDataForType(Bytes(image.begin(), image.end()), "image/png"));
  ASSERT_TRUE(clipboard->writeObjects({item}));

  const auto handOff = clipboard->handOffBeforeExit();
  ASSERT_EQ(handOff.outcome, WaylandPasteboard::HandOff::keptByKeeper);
  clipboard.reset();
  connection.reset();
  EXPECT_EQ(session.readClipboard("text/plain;charset=utf-8"), "kept");
  EXPECT_TRUE(session.readClipboard("image/png") == image);

  EXPECT_FALSE(processGone(handOff.keeperPid));
  ASSERT_TRUE(session.offerClipboard("text/plain", "copied later"));
  EXPECT_TRUE(waitUntil([&] { return processGone(handOff.keeperPid); }));
  if (!processGone(handOff.keeperPid))
    ::kill(handOff.keeperPid, SIGKILL);
}

// The user copied inside the panel: GTK in the host's own process owns the
// clipboard. Saving it on the main thread, as a paste does, must neither wait
// for the main loop it holds nor lose what the user copied. (GTK starts once
// per process: ctest runs each case in a process of its own.)
TEST_F(WaylandPasteboardTest, TheMainThreadSavesAndRestoresWhatGtkInThisProcessOwns) {
  session.exportToThisProcess();
  gdk_set_allowed_backends("wayland");
  ASSERT_TRUE(gtk_init_check(nullptr, nullptr));
  ASSERT_TRUE(session.offerClipboard("text/plain;charset=utf-8", "another's"));
  auto pasteboard = platform::wayland::withOwnClipboard(std::move(clipboard), [] { return true; });
  gtk_clipboard_set_text(gtk_clipboard_get(GDK_SELECTION_CLIPBOARD), "copied in the panel", -1);

  EXPECT_EQ(pasteboard->stringForType(NSPasteboardTypeString), "copied in the panel");
  PasteboardSnapshot saved = saveClipboard(*pasteboard);
  ASSERT_TRUE(saved);
  // The host's own write, then the snapshot put back, serve the user's copy
  // to everyone.
  pasteboard->clearContents();
  pasteboard->setStringForType("the host's text", NSPasteboardTypeString);
  restoreClipboard(*pasteboard, std::move(saved));
  EXPECT_EQ(session.readClipboard("text/plain;charset=utf-8"), "copied in the panel");
}

}  // namespace
}  // namespace lumivane
