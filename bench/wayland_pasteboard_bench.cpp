// The Wayland pasteboard on a private headless sway, against wl-clipboard
// doing the same work in the same run: saving the clipboard (reading every
// type) when wl-copy owns it, and serving the host's clipboard to a reader,
// for an 8 MiB and a 64 MiB image. wl-paste starts a process each time; the
// pasteboard does not, so "SaveByPasteboard" against "ReadByWlPaste" compares
// a reader's whole cost, and "ServedByPasteboard" against "ReadByWlPaste" the
// owner's (the reader is wl-paste both times). "PasteboardToPasteboard" is
// one pasteboard saving what another serves, with no process started.
// Saving reports "heap/size", how far the C++ heap grew relative to the
// clipboard's size (one copy of the data is 1.0).

#include <benchmark/benchmark.h>

#include <random>
#include <string>

#include "capture/pasteboard_snapshot.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "tests/support/heap_counter.h"
#include "tests/support/sway_session.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::wayland::WaylandConnection;
using platform::wayland::WaylandPasteboard;
using test_support::ChildProcess;
using test_support::SwaySession;

std::string noise(std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (auto& byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

class Bench {
 public:
  explicit Bench(SwaySession& session) : session_(session) {
    std::string error;
    std::shared_ptr<WaylandConnection> connection =
        WaylandConnection::open(session.socketPath(), &error);
    if (!connection)
      return;
    pasteboard_ = WaylandPasteboard::open(connection, {}, &error);
    other_ = WaylandPasteboard::open(connection, {}, &error);
  }
  bool ready() const { return pasteboard_ && other_; }

  bool pasteboardOwns(const std::string& bytes) {
    pasteboard_->clearContents();
    auto item = pasteboard_->makeItem();
    item->setDataForType(Bytes(bytes.begin(), bytes.end()), "image/png");
    return pasteboard_->writeObjects({item});
  }

  // wl-paste reads the clipboard's image to nothing.
  bool wlPasteReads() {
    ChildProcess::Options options;
    options.argv = {"wl-paste", "-t", "image/png"};
    options.environment = session_.environment();
    options.logFile = "/dev/null";
    ChildProcess paste(std::move(options));
    return paste.waitForExit(120) == 0;
  }

  void save(benchmark::State& state, bool fromWlCopy) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if (fromWlCopy ? !session_.offerClipboard("image/png", bytes) : !pasteboardOwns(bytes)) {
      state.SkipWithError("the clipboard was not taken");
      return;
    }
    auto& reader = fromWlCopy ? *pasteboard_ : *other_;
    const std::size_t heapStart = test_support::liveHeap();
    test_support::resetPeakHeap();
    const bool whole = saved(reader) == bytes.size();
    const std::size_t heapPeak = test_support::peakHeap() - heapStart;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      if (!whole || saved(reader) != bytes.size()) {
        state.SkipWithError("the saved clipboard is not whole");
        return;
      }
    }
    report(state, bytes.size());
    state.counters["heap/size"] = static_cast<double>(heapPeak) / static_cast<double>(bytes.size());
  }

  void readByWlPaste(benchmark::State& state, bool fromWlCopy) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if ((fromWlCopy ? !session_.offerClipboard("image/png", bytes) : !pasteboardOwns(bytes)) ||
        session_.readClipboard("image/png") != bytes) {
      state.SkipWithError("wl-paste did not read the clipboard whole");
      return;
    }
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      if (!wlPasteReads()) {
        state.SkipWithError("wl-paste failed to read");
        return;
      }
    }
    report(state, bytes.size());
  }

 private:
  static std::size_t saved(WaylandPasteboard& pasteboard) {
    PasteboardSnapshot snapshot = saveClipboard(pasteboard);
    benchmark::DoNotOptimize(snapshot);
    if (!snapshot || snapshot->size() != 1)
      return 0;
    return snapshot->front().begin()->second.size();
  }

  static void report(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(size) * state.iterations());
  }

  SwaySession& session_;
  std::unique_ptr<WaylandPasteboard> pasteboard_;
  std::unique_ptr<WaylandPasteboard> other_;
};

}  // namespace
}  // namespace lumivane

int main(int argc, char** argv) {
  using lumivane::Bench;
  using lumivane::test_support::SwaySession;
  benchmark::Initialize(&argc, argv);
  SwaySession session(SwaySession::Options{.xwayland = false, .sessionBus = false});
  if (!session.ready()) {
    std::fprintf(stderr, "no headless sway: %s\n", session.failure().c_str());
    return 1;
  }
  Bench bench(session);
  if (!bench.ready()) {
    std::fprintf(stderr, "the pasteboard did not open\n");
    return 1;
  }
  for (const std::int64_t size : {std::int64_t{8} << 20, std::int64_t{64} << 20}) {
    const auto apply = [size](benchmark::internal::Benchmark* b) {
      b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
      b->Args({size})->Iterations(size > (8 << 20) ? 1 : 4);
    };
    apply(benchmark::RegisterBenchmark("SaveByPasteboard",
                                       [&](benchmark::State& state) { bench.save(state, true); }));
    apply(benchmark::RegisterBenchmark(
        "ReadByWlPaste", [&](benchmark::State& state) { bench.readByWlPaste(state, true); }));
    apply(benchmark::RegisterBenchmark(
        "ServedByPasteboard", [&](benchmark::State& state) { bench.readByWlPaste(state, false); }));
    apply(benchmark::RegisterBenchmark("PasteboardToPasteboard",
                                       [&](benchmark::State& state) { bench.save(state, false); }));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
