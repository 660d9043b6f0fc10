#include <gtest/gtest.h>
#include <signal.h>

#include <nlohmann/json.hpp>

#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane {
namespace {

using test_support::SwaySession;
using test_support::waitUntil;

// The window of process `pid` in the compositor's tree; null when it has none.
nlohmann::json windowOf(SwaySession& session, pid_t pid) {
  const auto reply = session.message("get_tree");
  if (!reply)
    return nullptr;
  std::vector<nlohmann::json> pending{nlohmann::json::parse(*reply, nullptr, false)};
  while (!pending.empty()) {
    nlohmann::json node = std::move(pending.back());
    pending.pop_back();
    if (!node.is_object())
      continue;
    if (node.value("pid", -1) == pid)
      return node;
    for (const char* children : {"nodes", "floating_nodes"}) {
      for (auto& child : node.value(children, nlohmann::json::array()))
        pending.push_back(std::move(child));
    }
  }
  return nullptr;
}

// Every test on the Wayland desktop relies on this: a compositor of its own
// that native and X clients alike reach, and its processes gone afterwards.
TEST(SwaySessionTest, RunsNativeAndXClientsAndEndsWhatItStarted) {
  pid_t nativePid = -1;
  pid_t compositorPid = -1;
  {
    SwaySession session;
    ASSERT_TRUE(session.ready()) << session.failure();
    EXPECT_FALSE(session.environment().at("DBUS_SESSION_BUS_ADDRESS").empty());
    compositorPid = session.compositorPid();

    nativePid = session.spawn({"l3afpad"}, {{"GDK_BACKEND", "wayland"}}).pid();
    const pid_t xPid = session.spawn({"l3afpad"}, {{"GDK_BACKEND", "x11"}}).pid();
    nlohmann::json native;
    nlohmann::json x;
    ASSERT_TRUE(waitUntil(
        [&] {
          native = windowOf(session, nativePid);
          x = windowOf(session, xPid);
          return !native.is_null() && !x.is_null();
        },
        60))
        << "the editors' windows did not appear; logs in " << session.directory();
    EXPECT_EQ(native.value("shell", ""), "xdg_shell");
    EXPECT_EQ(native.value("app_id", ""), "l3afpad");
    EXPECT_EQ(x.value("shell", ""), "xwayland");
    EXPECT_EQ(x["window_properties"].value("class", ""), "L3afpad");
  }
  EXPECT_NE(::kill(nativePid, 0), 0) << "a process the session started outlived it";
  EXPECT_NE(::kill(compositorPid, 0), 0) << "the compositor outlived its session";
}

}  // namespace
}  // namespace lumivane
