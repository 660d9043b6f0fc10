#include "platform/wayland/wayland_transfer.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <deque>

#include "platform/wayland/wayland_connection.h"

namespace lumivane::platform::wayland {
namespace {

using SteadyClock = std::chrono::steady_clock;

// Pipes hold 64 KiB by default; a larger one moves big contents in far fewer
// wake-ups. Unprivileged processes may grow a pipe to 1 MiB.
constexpr int kPipeBytes = 1 << 20;

void growPipe(int fd) {
  // A pipe that stays small still works, only slower.
  [[maybe_unused]] const int grown = ::fcntl(fd, F_SETPIPE_SZ, kPipeBytes);
}

}  // namespace

void serveTransfer(WaylandConnection& connection,
                   gtk::UniqueFd fd,
                   std::shared_ptr<const Bytes> data,
                   std::chrono::milliseconds idle,
                   std::function<void()> done) {
  const int flags = ::fcntl(fd.get(), F_GETFL);
  if (!data || flags < 0 || ::fcntl(fd.get(), F_SETFL, flags | O_NONBLOCK) < 0) {
    if (done)
      done();
    return;
  }
  growPipe(fd.get());
  struct Transfer {
    gtk::UniqueFd fd;
    std::shared_ptr<const Bytes> data;
    std::size_t written = 0;
    std::function<void()> done;
    ~Transfer() {
      if (done)
        done();
    }
  };
  auto transfer = std::make_shared<Transfer>();
  transfer->fd = std::move(fd);
  transfer->data = std::move(data);
  transfer->done = std::move(done);
  const int watched = transfer->fd.get();
  connection.watch(
      watched, POLLOUT,
      [transfer = std::move(transfer)](short revents) {
        // Nothing taken for a whole bound, or the reader has gone.
        if (revents == 0 || (revents & (POLLERR | POLLHUP | POLLNVAL)))
          return false;
        const Bytes& bytes = *transfer->data;
        while (transfer->written < bytes.size()) {
          const ssize_t n = ::write(transfer->fd.get(), bytes.data() + transfer->written,
                                    bytes.size() - transfer->written);
          if (n < 0 && errno == EINTR)
            continue;
          if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK))
            return true;
          if (n <= 0)
            return false;
          transfer->written += static_cast<std::size_t>(n);
        }
        return false;
      },
      idle);
}

ReadResult readTransfer(const gtk::UniqueFd& fd, const ReadBounds& bounds) {
  // The bytes come in pieces of their own and are joined once at the end,
  // each piece freed as soon as it is copied: a read holds about one copy of
  // the data at any time, where a growing buffer would hold up to three.
  constexpr std::size_t kPiece = 1 << 20;
  struct Piece {
    std::unique_ptr<std::uint8_t[]> bytes = std::make_unique_for_overwrite<std::uint8_t[]>(kPiece);
    std::size_t size = 0;
  };
  std::deque<Piece> pieces;
  std::size_t total = 0;
  const auto deadline = SteadyClock::now() + bounds.transfer;
  ReadResult result;
  for (;;) {
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(deadline - SteadyClock::now());
    pollfd p{fd.get(), POLLIN, 0};
    const int ready = left.count() <= 0
                          ? 0
                          : ::poll(&p, 1, static_cast<int>(std::min(left, bounds.idle).count()));
    if (ready < 0 && errno == EINTR)
      continue;
    if (ready == 0)
      result.outcome = ReadResult::Outcome::timedOut;
    if (ready <= 0)
      return result;
    if (pieces.empty() || pieces.back().size == kPiece)
      pieces.emplace_back();
    Piece& piece = pieces.back();
    // One byte more than the bound tells "too large" from "exactly the bound".
    const std::size_t room = std::min(kPiece - piece.size, bounds.maxBytes - total + 1);
    const ssize_t n = ::read(fd.get(), piece.bytes.get() + piece.size, room);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n < 0)
      return result;
    piece.size += static_cast<std::size_t>(n);
    total += static_cast<std::size_t>(n);
    if (total > bounds.maxBytes)
      return result;
    if (n == 0)
      break;
  }
  result.data.reserve(total);
  while (!pieces.empty()) {
    const Piece& piece = pieces.front();
    result.data.insert(result.data.end(), piece.bytes.get(), piece.bytes.get() + piece.size);
    pieces.pop_front();
  }
  result.outcome = ReadResult::Outcome::data;
  return result;
}

std::optional<TransferPipe> makeTransferPipe() {
  int ends[2];
  if (::pipe2(ends, O_CLOEXEC) != 0)
    return std::nullopt;
  TransferPipe pipe{gtk::UniqueFd(ends[0]), gtk::UniqueFd(ends[1])};
  growPipe(pipe.read.get());
  return pipe;
}

}  // namespace lumivane::platform::wayland
