// Other clients of the clipboard that misbehave, against the host process.

#include <gtest/gtest.h>
#include <xcb/xcb.h>

#include <memory>
#include <ostream>
#include <string>

#include "tests/e2e/e2e_test.h"

namespace lumivane::e2e {
namespace {

using test_support::RawClient;

constexpr const char* kText = "The quick brown fox";

class HostilePeersTest : public E2eTest {
 protected:
  void startWithSelection() {
    host = desktop().startHost();
    ASSERT_NE(host, nullptr);
    editor = desktop().startEditor(l3afpad());
    ASSERT_NE(editor, nullptr);
    ASSERT_TRUE(editor->typeAndSelectAll(kText));
  }

  // The selection arrives (within the bound every wait has).
  void expectSelection(const std::optional<Json>& event, const char* key) {
    ASSERT_TRUE(event) << "nothing came";
    EXPECT_EQ(event->value(key, ""), kText) << event->dump();
  }

  HostProcess* host = nullptr;
  Editor* editor = nullptr;
};

// With the user's clipboard back in the host's hands after a capture,
// requestors that stall, vanish, name no property, ask for what was never
// offered or make up a notice that the clipboard was lost cost the host
// nothing: another application reads every target whole meanwhile, and the
// host keeps the clipboard.
TEST_F(HostilePeersTest, MisbehavingRequestorsDoNotDisturbTheHostsClipboard) {
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  const std::vector<ClipboardTarget> clipboard = {{"text/plain", "the user's own words"},
                                                  {"image/png", noise(std::size_t{20} << 20, 8)}};
  ASSERT_NE(desktop().offerClipboard(clipboard), nullptr);
  ASSERT_TRUE(desktop().pressHotKey());
  ASSERT_NO_FATAL_FAILURE(expectSelection(host->waitForEvent("updateSelection"), "text"));
  std::string why;
  ASSERT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
  const xcb_window_t hosts = desktop().clipboardOwner();

  // Starts an incremental transfer and never takes a piece.
  IncrementalReader stalled(desktop().display(), "image/png");
  ASSERT_TRUE(stalled.begin());
  // Goes away in the middle of one.
  {
    IncrementalReader vanishing(desktop().display(), "image/png");
    ASSERT_TRUE(vanishing.begin());
  }
  // Names no property, as clients from before properties were named did:
  // answered in the target's own name, or refused.
  RawClient obsolete(desktop().display());
  const auto answer = obsolete.convert("text/plain", "");
  ASSERT_TRUE(answer) << "no answer to a request without a property";
  if (*answer != XCB_ATOM_NONE) {
    EXPECT_EQ(*answer, obsolete.atom("text/plain"));
    const auto value = obsolete.x().getProperty(obsolete.window(), *answer, true);
    ASSERT_TRUE(value);
    EXPECT_EQ(std::string(value->data.begin(), value->data.end()), clipboard[0].bytes);
  }
  // Asks for a target nobody offered.
  RawClient curious(desktop().display());
  EXPECT_EQ(curious.convert("application/x-never-offered", "LUMIVANE_E2E_READ"),
            xcb_atom_t{XCB_ATOM_NONE});
  // Tells the host it lost the clipboard, which only the server can.
  xcb_selection_clear_event_t clear{};
  clear.response_type = XCB_SELECTION_CLEAR;
  clear.owner = hosts;
  clear.selection = curious.atom("CLIPBOARD");
  char event[32] = {};
  std::memcpy(event, &clear, sizeof clear);
  curious.sendEvent(hosts, event);

  EXPECT_TRUE(desktop().clipboardHolds(clipboard, &why)) << why;
  EXPECT_EQ(desktop().clipboardOwner(), hosts);
  EXPECT_TRUE(host->call("system", "getLaunchAtLogin")) << "the host stopped answering";
}

// How the application owning the user's clipboard fails the host.
struct HostileOwner {
  std::string name;
  RawOwner::Behaviour behaviour;
};

void PrintTo(const HostileOwner& owner, std::ostream* out) {
  *out << owner.name;
}

class HostileOwnerTest : public HostilePeersTest,
                         public ::testing::WithParamInterface<HostileOwner> {};

// An owner that does not answer costs a capture, and the interface's own
// request, a bounded wait: the selection still arrives.
TEST_P(HostileOwnerTest, CapturesStillDeliverTheSelection) {
  ASSERT_NO_FATAL_FAILURE(startWithSelection());
  const std::vector<ClipboardTarget> clipboard = {{"text/plain", "the user's own words"},
                                                  {"image/png", noise(std::size_t{2} << 20, 2)}};
  ASSERT_NE(desktop().offerClipboard(clipboard, GetParam().behaviour), nullptr);
  ASSERT_TRUE(desktop().pressHotKey());
  ASSERT_NO_FATAL_FAILURE(expectSelection(host->waitForEvent("updateSelection"), "text"));

  ASSERT_NE(desktop().offerClipboard(clipboard, GetParam().behaviour), nullptr);
  ASSERT_NO_FATAL_FAILURE(expectSelection(host->call("selection", "getSelection"), "result"));
}

HostileOwner hostileOwner(std::string name, void (*misbehave)(RawOwner::Behaviour&)) {
  HostileOwner owner{std::move(name), {}};
  misbehave(owner.behaviour);
  return owner;
}

INSTANTIATE_TEST_SUITE_P(
    Owners,
    HostileOwnerTest,
    ::testing::Values(hostileOwner("NeverAnswers", [](auto& b) { b.answersTargets = false; }),
                      hostileOwner("ListsButNeverSends", [](auto& b) { b.answersData = false; }),
                      hostileOwner("StallsMidTransfer", [](auto& b) { b.holdIncrements = true; })),
    [](const ::testing::TestParamInfo<HostileOwner>& info) { return info.param.name; });

}  // namespace
}  // namespace lumivane::e2e
