// The X11 clipboard on the X display of a Wayland session: XWayland under a
// headless sway, whose X bridge carries the selection between X clients and
// Wayland clients (wl-paste).

#include <gtest/gtest.h>

#include "platform/x11/x11_pasteboard.h"
#include "tests/platform/x11/raw_x_client.h"
#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::x11::X11Pasteboard;
using test_support::noise;
using test_support::SwaySession;
using test_support::waitUntil;

// What a Wayland client that takes its time gets as `type`: wl-paste's
// output passed on 64 KiB every 50 ms, so the bridge mostly finds its pipe
// full.
std::optional<std::string> readSlowly(SwaySession& session, const std::string& type) {
  auto& paste = session.spawn(
      {"sh", "-c",
       "wl-paste -n -t " + type +
           " | python3 -c 'import sys, time\n"
           "while piece := sys.stdin.buffer.read(65536):\n"
           "    sys.stdout.buffer.write(piece); sys.stdout.flush(); time.sleep(0.05)'"},
      {}, /*pipeInput=*/false, /*pipeOutput=*/true);
  auto bytes = paste.readAll(60);
  if (paste.waitForExit(60) != 0 || !bytes || bytes->empty())
    return std::nullopt;
  return bytes;
}

// An image larger than a megabyte, served by the host while it runs and by
// the keeper after it, reaches a Wayland reader whole both times.
TEST(XWaylandClipboardTest, AWaylandClientGetsTheHostsImageWholeWhileItRunsAndAfterItExits) {
  SwaySession session;
  ASSERT_TRUE(session.ready()) << session.failure();
  // The bridge takes over an X client's clipboard only while an X window
  // has the focus.
  session.spawn({"l3afpad"}, {{"GDK_BACKEND", "x11"}});
  ASSERT_TRUE(waitUntil(
      [&] {
        const auto tree = session.message("get_tree");
        return tree && tree->find("\"xwayland\"") != std::string::npos;
      },
      60));
  X11Pasteboard::Options options;
  options.displayName = session.display();
  options.keeperPath = LUMIVANE_CLIPBOARD_KEEPER;
  std::string error;
  auto pasteboard = X11Pasteboard::open(options, &error);
  ASSERT_TRUE(pasteboard) << error;
  const std::string image = noise(3 << 19, 11);
  auto item = pasteboard->makeItem();
  ASSERT_TRUE(item->setDataForType(Bytes(image.begin(), image.end()), "image/png"));
  ASSERT_TRUE(pasteboard->writeObjects({item}));

  std::optional<std::string> read;
  ASSERT_TRUE(waitUntil([&] { return (read = readSlowly(session, "image/png")).has_value(); }, 60));
  EXPECT_TRUE(*read == image) << read->size() << " of " << image.size() << " bytes";

  // The bridge claims to be a clipboard manager, but saves nothing.
  EXPECT_EQ(pasteboard->handOffBeforeExit().outcome, X11Pasteboard::HandOff::keptByKeeper);
  pasteboard.reset();
  read = session.readClipboard("image/png", /*primary=*/false, /*seconds=*/20);
  ASSERT_TRUE(read) << "the Wayland clipboard is empty once the host has gone";
  EXPECT_TRUE(*read == image) << read->size() << " of " << image.size() << " bytes";
}

}  // namespace
}  // namespace lumivane
