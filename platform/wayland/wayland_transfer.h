#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <optional>

#include "platform/gtk/unique_fd.h"
#include "platform/pasteboard.h"

// Moving a selection's bytes through the pipe the compositor hands over:
// serving them to another client on the connection's thread, and reading
// what another client serves on the caller's own thread.
namespace lumivane::platform::wayland {

class WaylandConnection;

// Writes `data` to `fd` (taken over) from the connection's thread, in
// non-blocking steps as the reader takes them, so that the thread goes on
// serving everything else meanwhile. The transfer ends, `fd` closed, when
// every byte is written, when the reader closes its end, or when the reader
// has taken nothing for `idle`. `done` (optional) runs then: on the
// connection's thread, or where the connection goes while it lasts.
// Connection's thread only.
void serveTransfer(WaylandConnection& connection,
                   gtk::UniqueFd fd,
                   std::shared_ptr<const Bytes> data,
                   std::chrono::milliseconds idle,
                   std::function<void()> done = nullptr);

// What reading a selection gave.
struct ReadResult {
  enum class Outcome {
    data,      // the owner wrote `data` (possibly nothing) and closed its end
    timedOut,  // the owner wrote nothing for a whole bound, or took too long
    failed,    // too large, or the pipe failed
  } outcome = Outcome::failed;
  Bytes data;
};

struct ReadBounds {
  // Between two pieces, the first included: an owner that never writes
  // costs the caller no more than this.
  std::chrono::milliseconds idle{2000};
  // For a whole read, however it goes.
  std::chrono::milliseconds transfer{30000};
  // The most bytes one read may bring in.
  std::size_t maxBytes = std::size_t{512} << 20;
};

// Reads `fd` (the read end of the pipe whose write end went to the owner) to
// its end within `bounds`, on the calling thread.
ReadResult readTransfer(const gtk::UniqueFd& fd, const ReadBounds& bounds);

// A pipe for a read: the read end for the caller, the write end for the
// owner. Absent when no pipe can be made.
struct TransferPipe {
  gtk::UniqueFd read;
  gtk::UniqueFd write;
};
std::optional<TransferPipe> makeTransferPipe();

}  // namespace lumivane::platform::wayland
