// The X11 pasteboard on a private Xvfb display, against xclip doing the same
// work in the same run: saving the clipboard (reading every target) when
// xclip owns it, and serving the host's clipboard to a reader, for an 8 MiB
// and a 64 MiB image. xclip's reads start a process each time; the
// pasteboard's do not, so "SaveByPasteboard" against "ReadByXclip" compares a
// reader's whole cost, and "ServedByPasteboard" against "ReadByXclip" the
// owner's (the reader is xclip both times). "PasteboardToPasteboard" is one
// pasteboard saving what another serves, with no process started.
//
// Saving also reports memory, relative to the clipboard's size: "heap/size"
// is how far the C++ heap grew (the snapshot's buffer), "rss/size" how far
// the process's resident set did (XCB's reply buffers included). One copy of
// the data is 1.0.

#include <benchmark/benchmark.h>

#include <fstream>
#include <random>
#include <string>

#include "capture/pasteboard_snapshot.h"
#include "platform/x11/x11_pasteboard.h"
#include "tests/support/heap_counter.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::x11::X11Pasteboard;
using test_support::ChildProcess;
using test_support::XSession;

std::string noise(std::size_t size) {
  std::mt19937 random(static_cast<unsigned>(size));
  std::string bytes(size, '\0');
  for (auto& byte : bytes)
    byte = static_cast<char>(random());
  return bytes;
}

// A /proc/self/status figure in bytes (VmRSS, VmHWM).
std::size_t statusBytes(const std::string& field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::stoull(line.substr(field.size() + 1)) * 1024;
  }
  return 0;
}

// Starts the resident high-water mark again from the current size.
void resetResidentPeak() {
  std::ofstream("/proc/self/clear_refs") << "5";
}

class Bench {
 public:
  explicit Bench(XSession& session) : session_(session) {
    X11Pasteboard::Options options;
    options.displayName = session.display();
    std::string error;
    pasteboard_ = X11Pasteboard::open(options, &error);
    other_ = X11Pasteboard::open(options, &error);
  }
  bool ready() const { return pasteboard_ && other_; }

  // xclip owns the clipboard with `bytes` as image/png.
  bool xclipOwns(const std::string& bytes) {
    return session_.offerClipboard("image/png", bytes) != nullptr;
  }

  // The pasteboard owns it, as after the host restored it.
  bool pasteboardOwns(const std::string& bytes) {
    pasteboard_->clearContents();
    auto item = pasteboard_->makeItem();
    item->setDataForType(Bytes(bytes.begin(), bytes.end()), "image/png");
    return pasteboard_->writeObjects({item});
  }

  // xclip reads the clipboard's image to nothing.
  bool xclipReads() {
    ChildProcess::Options options;
    options.argv = {"xclip", "-selection", "clipboard", "-o", "-t", "image/png"};
    options.environment = session_.environment();
    options.logFile = "/dev/null";
    ChildProcess xclip(std::move(options));
    return xclip.waitForExit(120) == 0;
  }

  std::size_t save(X11Pasteboard& pasteboard) {
    PasteboardSnapshot snapshot = saveClipboard(pasteboard);
    benchmark::DoNotOptimize(snapshot);
    if (!snapshot || snapshot->size() != 1)
      return 0;
    return snapshot->front().begin()->second.size();
  }

  void saveByPasteboard(benchmark::State& state) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if (!xclipOwns(bytes)) {
      state.SkipWithError("xclip did not take the clipboard");
      return;
    }
    runSaves(state, bytes, *pasteboard_);
  }

  void pasteboardToPasteboard(benchmark::State& state) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if (!pasteboardOwns(bytes)) {
      state.SkipWithError("the pasteboard did not take the clipboard");
      return;
    }
    runSaves(state, bytes, *other_);
  }

  void readByXclip(benchmark::State& state) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if (!xclipOwns(bytes)) {
      state.SkipWithError("xclip did not take the clipboard");
      return;
    }
    runXclipReads(state, bytes);
  }

  void servedByPasteboard(benchmark::State& state) {
    const std::string bytes = noise(static_cast<std::size_t>(state.range(0)));
    if (!pasteboardOwns(bytes)) {
      state.SkipWithError("the pasteboard did not take the clipboard");
      return;
    }
    runXclipReads(state, bytes);
  }

 private:
  void runSaves(benchmark::State& state, const std::string& bytes, X11Pasteboard& pasteboard) {
    // Memory, once, before the timed runs.
    const std::size_t heapStart = test_support::liveHeap();
    test_support::resetPeakHeap();
    resetResidentPeak();
    const std::size_t residentStart = statusBytes("VmRSS");
    const std::size_t saved = save(pasteboard);
    const std::size_t heapPeak = test_support::peakHeap() - heapStart;
    const std::size_t residentPeak = statusBytes("VmHWM") - residentStart;
    if (saved != bytes.size()) {
      state.SkipWithError("the saved clipboard is not whole");
      return;
    }
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      if (save(pasteboard) != bytes.size()) {
        state.SkipWithError("the saved clipboard is not whole");
        return;
      }
    }
    report(state, bytes.size());
    state.counters["heap/size"] = static_cast<double>(heapPeak) / static_cast<double>(bytes.size());
    state.counters["rss/size"] =
        static_cast<double>(residentPeak) / static_cast<double>(bytes.size());
  }

  void runXclipReads(benchmark::State& state, const std::string& bytes) {
    if (session_.readClipboard("image/png") != bytes) {
      state.SkipWithError("xclip did not read the clipboard whole");
      return;
    }
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      if (!xclipReads()) {
        state.SkipWithError("xclip failed to read");
        return;
      }
    }
    report(state, bytes.size());
  }

  static void report(benchmark::State& state, std::size_t size) {
    state.SetBytesProcessed(static_cast<std::int64_t>(size) * state.iterations());
  }

  XSession& session_;
  std::unique_ptr<X11Pasteboard> pasteboard_;
  std::unique_ptr<X11Pasteboard> other_;
};

}  // namespace
}  // namespace lumivane

int main(int argc, char** argv) {
  using lumivane::Bench;
  using lumivane::test_support::XSession;
  benchmark::Initialize(&argc, argv);
  XSession session(XSession::Options{.windowManager = false, .sessionBus = false});
  if (!session.ready()) {
    std::fprintf(stderr, "no X display: %s\n", session.failure().c_str());
    return 1;
  }
  Bench bench(session);
  if (!bench.ready()) {
    std::fprintf(stderr, "the pasteboard did not open\n");
    return 1;
  }
  const auto sizes = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    b->Args({8 << 20})->Iterations(4);
  };
  const auto large = [](benchmark::internal::Benchmark* b) {
    b->Unit(benchmark::kMillisecond)->UseRealTime()->Repetitions(5)->ReportAggregatesOnly(true);
    b->Args({64 << 20})->Iterations(1);
  };
  for (const auto& apply : {+sizes, +large}) {
    apply(benchmark::RegisterBenchmark(
        "SaveByPasteboard", [&](benchmark::State& state) { bench.saveByPasteboard(state); }));
    apply(benchmark::RegisterBenchmark("ReadByXclip",
                                       [&](benchmark::State& state) { bench.readByXclip(state); }));
    apply(benchmark::RegisterBenchmark(
        "ServedByPasteboard", [&](benchmark::State& state) { bench.servedByPasteboard(state); }));
    apply(benchmark::RegisterBenchmark("PasteboardToPasteboard", [&](benchmark::State& state) {
      bench.pasteboardToPasteboard(state);
    }));
  }
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
