// The contract suites run against the Wayland backend, each case on a
// private headless sway of its own, with other Wayland clients standing for
// the user and the other applications.

#include <gtest/gtest.h>
#include <wayland-client.h>

#include <algorithm>
#include <memory>
#include <stdexcept>

#include "platform/gtk/unique_fd.h"
#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "tests/contract/pasteboard_contract.h"
#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane::contract {
namespace {

using platform::wayland::WaylandConnection;
using platform::wayland::WaylandPasteboard;
using test_support::SwaySession;

// A harness that cannot set its desktop up fails its case here: GoogleTest
// reports an exception from the fixture's constructor and skips the body.
[[noreturn]] void cannotSetUp(const std::string& why) {
  throw std::runtime_error("the Wayland harness could not set up: " + why);
}

// --- Pasteboard -----------------------------------------------------------------

// Another client that offers several types at once, each of them written
// when asked for, or never (the pipe stays open and silent): a bare
// data-control source on a connection of its own.
class RawWaylandOwner {
 public:
  RawWaylandOwner(const std::string& socket, ContractItem item) : item_(std::move(item)) {
    std::string error;
    connection_ = WaylandConnection::open(socket, &error);
    const bool owns =
        connection_ &&
        connection_
            ->call<bool>([this] {
              const auto& globals = connection_->globals();
              static const zwlr_data_control_source_v1_listener listener = {
                  .send = &onSend, .cancelled = &onCancelled};
              source_ = zwlr_data_control_manager_v1_create_data_source(globals.dataControl);
              for (const auto& [type, data] : item_)
                zwlr_data_control_source_v1_offer(source_, type.c_str());
              zwlr_data_control_source_v1_add_listener(source_, &listener, this);
              device_ =
                  zwlr_data_control_manager_v1_get_data_device(globals.dataControl, globals.seat);
              zwlr_data_control_device_v1_set_selection(device_, source_);
              return connection_->roundTrip();
            })
            .value_or(false);
    EXPECT_TRUE(owns) << "another client could not take the clipboard";
  }
  ~RawWaylandOwner() {
    if (connection_) {
      connection_->call<bool>([this] {
        zwlr_data_control_source_v1_destroy(source_);
        zwlr_data_control_device_v1_destroy(device_);
        return true;
      });
    }
  }

 private:
  static void onSend(void* data, zwlr_data_control_source_v1*, const char* mime, int32_t fd) {
    auto& self = *static_cast<RawWaylandOwner*>(data);
    platform::gtk::UniqueFd pipe(fd);
    auto it = std::find_if(self.item_.begin(), self.item_.end(),
                           [&](const auto& type) { return type.first == mime; });
    if (it == self.item_.end() || !it->second) {
      self.silent_.push_back(std::move(pipe));
      return;
    }
    // Small contents: the pipe takes them at once.
    for (std::size_t at = 0; at < it->second->size();) {
      const ssize_t n = ::write(pipe.get(), it->second->data() + at, it->second->size() - at);
      if (n <= 0)
        return;
      at += static_cast<std::size_t>(n);
    }
  }
  static void onCancelled(void*, zwlr_data_control_source_v1*) {}

  ContractItem item_;
  std::unique_ptr<WaylandConnection> connection_;
  zwlr_data_control_source_v1* source_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::vector<platform::gtk::UniqueFd> silent_;
};

// Other clients read and write the clipboard of a private sway: wl-copy for
// one type, a raw owner for several or for a type it will not hand over;
// wl-paste reads.
class WaylandPasteboardHarness {
 public:
  static constexpr bool kHoldsSeveralItems = false;
  // The compositor always names the selection's types.
  static constexpr bool kCanLoseItemList = false;
  // The host's write over another client's clipboard that the host has not
  // cleared since it was taken is refused: the user's clipboard is never
  // replaced by accident.
  static constexpr bool kRefusesWritesOverAnotherProcess = true;

  WaylandPasteboardHarness() {
    if (!session_.ready())
      cannotSetUp(session_.failure());
    std::string error;
    std::shared_ptr<WaylandConnection> connection =
        WaylandConnection::open(session_.socketPath(), &error);
    if (connection)
      pasteboard_ = WaylandPasteboard::open(connection, {}, &error);
    if (!pasteboard_)
      cannotSetUp(error);
  }

  platform::Pasteboard& pasteboard() { return *pasteboard_; }

  void writeFromAnotherProcess(const std::vector<ContractItem>& items) {
    ASSERT_EQ(items.size(), 1u) << "a Wayland selection holds one item";
    ContractItem item = items.front();
    for (auto& [type, data] : item)
      type = mimeOf(type);
    const auto before = pasteboard_->changeCount();
    if (item.size() == 1 && item.front().second) {
      const auto& bytes = *item.front().second;
      ASSERT_TRUE(session_.offerClipboard(item.front().first, {bytes.begin(), bytes.end()}));
    } else {
      // The owner before goes only once this one holds the clipboard, so it
      // never empties in between.
      auto owner = std::make_unique<RawWaylandOwner>(session_.socketPath(), item);
      owner_ = std::move(owner);
    }
    EXPECT_TRUE(test_support::waitUntil([&] { return pasteboard_->changeCount() > before; }))
        << "the pasteboard never saw the other client's write";
  }

  std::optional<platform::Bytes> readFromAnotherProcess(const std::string& type) {
    auto bytes = session_.readClipboard(mimeOf(type));
    if (!bytes)
      return std::nullopt;
    return platform::Bytes(bytes->begin(), bytes->end());
  }

  void loseItemList() {}

 private:
  // The host's text type is text/plain;charset=utf-8 to other clients.
  static std::string mimeOf(const std::string& type) {
    return type == platform::NSPasteboardTypeString ? "text/plain;charset=utf-8" : type;
  }

  SwaySession session_{SwaySession::Options{.xwayland = false, .sessionBus = false}};
  std::unique_ptr<WaylandPasteboard> pasteboard_;
  std::unique_ptr<RawWaylandOwner> owner_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, PasteboardContract, WaylandPasteboardHarness);

}  // namespace lumivane::contract
