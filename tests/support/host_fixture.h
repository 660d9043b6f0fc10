#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "bridge/channel_handlers.h"
#include "platform/flutter/interface_peer.h"
#include "platform/sim/sim_desktop.h"
#include "shell/application_main.h"
#include "tests/support/printing.h"
#include "tests/support/sim_desktop_fixture.h"

namespace lumivane::test_support {

// A host started on a fresh simulated desktop, with the interface's side of
// both channels. Trust is granted and one application ("Editor", pid 201, its
// selection "selected text", copying 0.05 s after the chord) is in front
// unless a test changes that before launch().
class HostTest : public SimDesktopTest {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Loads the main interface and runs the application's launch, as the
  // process entry does.
  void launch();

  AppDelegate& host() { return *ui.delegate; }
  std::shared_ptr<platform::sim::SimPanel> panel() const;
  // Drops the host's last strong reference, as if the delegate were released.
  void releaseDelegate();

  platform::PeerReply callSelection(const std::string& method,
                                    std::optional<platform::EncodableValue> args = std::nullopt);
  platform::PeerReply callSystem(const std::string& method,
                                 std::optional<platform::EncodableValue> args = std::nullopt);
  // Calls `method` on `channel` and checks that it was answered exactly once.
  platform::PeerReply callOnce(const std::string& channel,
                               const std::string& method,
                               std::optional<platform::EncodableValue> args = std::nullopt);
  // Texts the host sent with "updateSelection", oldest first.
  std::vector<std::string> selectionUpdates();
  // Key events the host posted, as "C down -> 201" / "V up -> hid".
  std::vector<std::string> postedChords();
  // The chords held system-wide, in registration order.
  std::vector<platform::sim::HotKeyChord> registeredChords();
  // The login-item service calls that changed something, in order.
  std::vector<std::string> loginServiceChanges();

  std::shared_ptr<platform::sim::SimRunningApplication> editor;
  MainInterface ui;
  std::unique_ptr<platform::InterfacePeer> peer;
};

platform::EncodableValue hotKeyArgs(std::int64_t keyCode, std::int64_t modifiers);

}  // namespace lumivane::test_support
