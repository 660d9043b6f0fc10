#include <gtest/gtest.h>
#include <signal.h>

#include <string>

#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using test_support::ChildProcess;
using test_support::XSession;

constexpr double kBoundSeconds = 30;
constexpr const char* kId = "com.lumivane.ProcessTest";

std::string probePath() {
  return (test_support::executableDirectory() / "gtk_application_probe").string();
}

ChildProcess& startProbe(XSession& session) {
  return session.spawn({probePath(), kId}, {}, /*pipeInput=*/false, /*pipeOutput=*/true);
}

// Starting Lumivane while it runs shows the running one (which asks its
// delegate to reopen) and the second process goes without launching.
TEST(X11ApplicationProcessTest, ASecondStartAsksTheRunningHostToReopenAndLeaves) {
  XSession session;
  ASSERT_TRUE(session.ready()) << session.failure();
  auto& first = startProbe(session);
  ASSERT_EQ(first.readLine(kBoundSeconds), "launched");

  auto& second = startProbe(session);
  EXPECT_EQ(second.readLine(kBoundSeconds), "exited") << "it launched instead";
  EXPECT_EQ(second.waitForExit(kBoundSeconds), 0);
  EXPECT_EQ(first.readLine(kBoundSeconds), "reopen");

  // Ending the session's processes ends it the way Quit does.
  first.signal(SIGTERM);
  EXPECT_EQ(first.readLine(kBoundSeconds), "terminating");
  EXPECT_EQ(first.readLine(kBoundSeconds), "exited");
  EXPECT_EQ(first.waitForExit(kBoundSeconds), 0);
}

TEST(X11ApplicationProcessTest, LoggingOutEndsTheHostThroughTerminate) {
  XSession session;
  ASSERT_TRUE(session.ready()) << session.failure();
  for (const int signal : {SIGHUP, SIGINT}) {
    SCOPED_TRACE(signal);
    auto& host = startProbe(session);
    ASSERT_EQ(host.readLine(kBoundSeconds), "launched");
    host.signal(signal);
    EXPECT_EQ(host.readLine(kBoundSeconds), "terminating");
    EXPECT_EQ(host.readLine(kBoundSeconds), "exited");
    EXPECT_EQ(host.waitForExit(kBoundSeconds), 0);
  }
}

// Without a session bus there is no way to find a running host: each start
// runs on its own rather than failing.
TEST(X11ApplicationProcessTest, WithoutASessionBusEachStartRuns) {
  XSession session(XSession::Options{.windowManager = false, .sessionBus = false});
  ASSERT_TRUE(session.ready()) << session.failure();
  auto& first = startProbe(session);
  auto& second = startProbe(session);
  EXPECT_EQ(first.readLine(kBoundSeconds), "launched");
  EXPECT_EQ(second.readLine(kBoundSeconds), "launched");
}

}  // namespace
}  // namespace lumivane
