// Saving and restoring the user's clipboard around every capture and paste:
// one item holding one large type (an image, a big document) from 1 KiB to
// 256 MiB, and a thousand small items. Besides throughput, each run reports
// how many times the bytes were copied and how far the heap grew, relative to
// the clipboard's size: a save should copy the bytes exactly once, a restore
// not at all.

#include <benchmark/benchmark.h>

#include "capture/pasteboard_snapshot.h"
#include "platform/sim/sim_desktop.h"
#include "tests/support/heap_counter.h"

namespace lumivane {
namespace {

using platform::Bytes;
using platform::sim::SimDesktop;
using platform::sim::SimPasteboardItemContents;

// How far the heap grows above its level when `work` starts.
template <typename Work>
std::size_t peakGrowth(Work&& work) {
  const std::size_t start = test_support::liveHeap();
  test_support::resetPeakHeap();
  work();
  return test_support::peakHeap() - start;
}

std::vector<SimPasteboardItemContents> oneBigItem(std::size_t bytes) {
  return {{{platform::NSPasteboardTypePNG, Bytes(bytes, 0x5A)}}};
}

std::vector<SimPasteboardItemContents> thousandItems(std::size_t bytesEach) {
  std::vector<SimPasteboardItemContents> items(1000);
  for (auto& item : items)
    item.push_back({platform::NSPasteboardTypeString, Bytes(bytesEach, 'x')});
  return items;
}

void report(benchmark::State& state,
            std::size_t clipboardBytes,
            std::size_t copiedBytes,
            std::size_t measuredPeak) {
  const double total =
      static_cast<double>(clipboardBytes) * static_cast<double>(state.iterations());
  state.SetBytesProcessed(static_cast<std::int64_t>(total));
  state.counters["copies"] = static_cast<double>(copiedBytes) / total;
  state.counters["heap/size"] =
      static_cast<double>(measuredPeak) / static_cast<double>(clipboardBytes);
}

void save(benchmark::State& state,
          const std::vector<SimPasteboardItemContents>& contents,
          std::size_t clipboardBytes) {
  SimDesktop desktop;
  auto& pasteboard = desktop.generalPasteboard();
  pasteboard.setContents(contents);
  const std::size_t peak = peakGrowth([&] {
    PasteboardSnapshot snapshot = saveClipboard(pasteboard);
    benchmark::DoNotOptimize(snapshot);
  });
  const std::size_t copiedBefore = pasteboard.bytesCopied();
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    PasteboardSnapshot snapshot = saveClipboard(pasteboard);
    benchmark::DoNotOptimize(snapshot);
  }
  report(state, clipboardBytes, pasteboard.bytesCopied() - copiedBefore, peak);
}

void restore(benchmark::State& state,
             const std::vector<SimPasteboardItemContents>& contents,
             std::size_t clipboardBytes) {
  SimDesktop desktop;
  auto& pasteboard = desktop.generalPasteboard();
  pasteboard.setContents(contents);
  PasteboardSnapshot first = saveClipboard(pasteboard);
  const std::size_t peak = peakGrowth([&] { restoreClipboard(pasteboard, std::move(first)); });
  std::size_t copied = 0;
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    state.PauseTiming();
    PasteboardSnapshot snapshot = saveClipboard(pasteboard);
    const std::size_t copiedBefore = pasteboard.bytesCopied();
    state.ResumeTiming();
    restoreClipboard(pasteboard, std::move(snapshot));
    copied += pasteboard.bytesCopied() - copiedBefore;
  }
  report(state, clipboardBytes, copied, peak);
}

void BM_SaveOneItem(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  save(state, oneBigItem(bytes), bytes);
}

void BM_RestoreOneItem(benchmark::State& state) {
  const auto bytes = static_cast<std::size_t>(state.range(0));
  restore(state, oneBigItem(bytes), bytes);
}

void BM_SaveThousandItems(benchmark::State& state) {
  const auto each = static_cast<std::size_t>(state.range(0));
  save(state, thousandItems(each), 1000 * each);
}

void BM_RestoreThousandItems(benchmark::State& state) {
  const auto each = static_cast<std::size_t>(state.range(0));
  restore(state, thousandItems(each), 1000 * each);
}

BENCHMARK(BM_SaveOneItem)->RangeMultiplier(16)->Range(1 << 10, 256 << 20);
BENCHMARK(BM_RestoreOneItem)->RangeMultiplier(16)->Range(1 << 10, 1 << 20);
// Each restore needs a fresh snapshot, taken untimed; bounded so the large
// sizes do not spend minutes saving.
BENCHMARK(BM_RestoreOneItem)->Arg(16 << 20)->Arg(256 << 20)->Iterations(10);
// A thousand items of 16 bytes, 1 KiB and 256 KiB each.
BENCHMARK(BM_SaveThousandItems)->Arg(16)->Arg(1 << 10)->Arg(256 << 10);
BENCHMARK(BM_RestoreThousandItems)->Arg(16)->Arg(1 << 10);
BENCHMARK(BM_RestoreThousandItems)->Arg(256 << 10)->Iterations(5);

}  // namespace
}  // namespace lumivane
