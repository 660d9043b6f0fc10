#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/pasteboard.h"

struct zwlr_data_control_source_v1;

namespace lumivane::platform::wayland {

class WaylandConnection;

// One MIME type a source offers, with its bytes (shared by everything that
// serves or holds them, never copied for a reader).
struct OfferedType {
  std::string mimeType;
  std::shared_ptr<const Bytes> data;
};
using OfferedTypes = std::vector<OfferedType>;

// A data-control source of this client: offers its types and serves every
// reader who asks for one, each in a transfer of its own, so a slow or stuck
// reader holds up nobody else. Transfers under way finish after the source
// has gone. Lives on the connection's thread.
class SelectionSource {
 public:
  struct Bounds {
    // A reader that takes nothing for this long loses its transfer.
    std::chrono::milliseconds readerIdle{5000};
    // Transfers at once; a reader beyond them gets nothing.
    std::size_t maxTransfers = 256;
  };
  // What happens to the source, on the connection's thread.
  struct Events {
    // A reader asked for one of the types.
    std::function<void()> asked;
    // Another source replaced this one: it is offered no more.
    std::function<void()> cancelled;
    // A transfer has ended, on the connection's thread or where the
    // connection goes; it may outlive the source.
    std::function<void()> transferEnded;
  };

  // Null when the compositor offers no data-control.
  static std::unique_ptr<SelectionSource> make(WaylandConnection& connection,
                                               OfferedTypes types,
                                               Bounds bounds,
                                               Events events);
  SelectionSource(WaylandConnection& connection,
                  zwlr_data_control_source_v1* source,
                  OfferedTypes types,
                  Bounds bounds,
                  Events events);
  ~SelectionSource();
  SelectionSource(const SelectionSource&) = delete;
  SelectionSource& operator=(const SelectionSource&) = delete;

  zwlr_data_control_source_v1* get() const { return source_; }
  const OfferedTypes& types() const { return types_; }
  bool cancelled() const { return cancelled_; }
  // Transfers still under way, including those of a cancelled source.
  std::size_t transferring() const { return *transfers_; }

 private:
  static void onSend(void* data, zwlr_data_control_source_v1* source, const char* mime, int32_t fd);
  static void onCancelled(void* data, zwlr_data_control_source_v1* source);

  WaylandConnection& connection_;
  zwlr_data_control_source_v1* const source_;
  const OfferedTypes types_;
  const Bounds bounds_;
  const Events events_;
  bool cancelled_ = false;
  // Shared with the transfers, which may end after the source.
  const std::shared_ptr<std::size_t> transfers_ = std::make_shared<std::size_t>(0);
};

}  // namespace lumivane::platform::wayland
