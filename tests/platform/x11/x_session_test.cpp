#include <gtest/gtest.h>

#include <xcb/xcb.h>

#include "platform/x11/x11_connection.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::x11::XcbConnection;
using test_support::XSession;

// Every test on a real X server relies on this: a display of its own that no
// other test shares, a window manager, and its processes gone afterwards.
TEST(XSessionTest, GivesEachTestItsOwnManagedDisplayAndEndsWhatItStarted) {
  pid_t editorPid = -1;
  pid_t serverPid = -1;
  {
    XSession first;
    ASSERT_TRUE(first.ready()) << first.failure();
    XSession second(XSession::Options{.windowManager = false, .sessionBus = false});
    ASSERT_TRUE(second.ready()) << second.failure();
    EXPECT_NE(first.display(), second.display());
    EXPECT_TRUE(first.hasWindowManager());
    EXPECT_FALSE(second.hasWindowManager());
    EXPECT_FALSE(first.environment().at("DBUS_SESSION_BUS_ADDRESS").empty());
    EXPECT_EQ(first.environment().at("NO_AT_BRIDGE"), "1");

    std::string error;
    auto connection = XcbConnection::open(first.display(), &error);
    ASSERT_TRUE(connection) << error;
    EXPECT_NE(connection->atom("CLIPBOARD"), static_cast<xcb_atom_t>(XCB_ATOM_NONE));
    EXPECT_EQ(connection->atomName(connection->atom("CLIPBOARD")), "CLIPBOARD");

    auto& sleeper = first.spawn({"sleep", "600"});
    editorPid = sleeper.pid();
    EXPECT_TRUE(sleeper.running());
    serverPid = first.serverPid();
    EXPECT_GT(serverPid, 0);
  }
  EXPECT_NE(::kill(editorPid, 0), 0) << "a process the session started outlived it";
  // By its process, not its display number: another test's server may
  // already have taken that number.
  EXPECT_NE(::kill(serverPid, 0), 0) << "the display outlived its session";
}

TEST(XSessionTest, PipesReachAndLeaveAChild) {
  XSession session(XSession::Options{.windowManager = false, .sessionBus = false});
  ASSERT_TRUE(session.ready()) << session.failure();
  auto& cat = session.spawn({"cat"}, {}, /*pipeInput=*/true, /*pipeOutput=*/true);
  ASSERT_TRUE(cat.write("one\ntwo\n"));
  EXPECT_EQ(cat.readLine(10), "one");
  EXPECT_EQ(cat.readLine(10), "two");
  cat.closeInput();
  EXPECT_EQ(cat.readLine(10), std::nullopt);
  EXPECT_EQ(cat.waitForExit(10), 0);
}

}  // namespace
}  // namespace lumivane
