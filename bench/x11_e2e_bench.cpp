// The host as a user runs it (lumivane --desktop x11 --interface console) on a
// private Xvfb display with openbox, against l3afpad and featherpad:
//
//  - HotKeyToUpdateSelection/EDITOR: from the moment the hot key goes down
//    (XTest, as a keyboard) until the interface's "updateSelection" line has
//    been read from the console.
//  - PasteToRestore/EDITOR: from the "pasteText" reply until another client
//    reads the user's clipboard back (the host waits 0.3 s for the chord and
//    0.5 s more before it restores, so 0.8 s of it is by design).
//  - CaptureMemory/SIZE: the first capture of a freshly started host, with
//    SIZE bytes of another client's image on the clipboard, timed from the
//    hot key to "updateSelection"; and the host's memory, relative to SIZE:
//    "peak/size" is how far its resident high-water mark (VmHWM) rose above
//    its size before the capture, "held/size" how much more it holds once the
//    clipboard is back in its hands. One copy of the data is 1.0.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <fstream>
#include <string>

#include "tests/e2e/e2e_desktop.h"
#include "tests/support/wait_until.h"

namespace lumivane::e2e {
namespace {

using Clock = std::chrono::steady_clock;

constexpr xcb_keysym_t kControl = 0xffe3;
constexpr xcb_keysym_t kShift = 0xffe1;
constexpr xcb_keysym_t kT = 0x74;

// A /proc/PID/status figure in bytes (VmRSS, VmHWM).
std::size_t statusBytes(pid_t pid, const std::string& field) {
  std::ifstream status("/proc/" + std::to_string(pid) + "/status");
  std::string line;
  while (std::getline(status, line)) {
    if (line.rfind(field + ":", 0) == 0)
      return std::stoull(line.substr(field.size() + 1)) * 1024;
  }
  return 0;
}

// Starts the process's resident high-water mark again from its current size.
bool resetResidentPeak(pid_t pid) {
  std::ofstream clear("/proc/" + std::to_string(pid) + "/clear_refs");
  clear << "5";
  clear.flush();
  return static_cast<bool>(clear);
}

double seconds(Clock::duration duration) {
  return std::chrono::duration<double>(duration).count();
}

class Bench {
 public:
  explicit Bench(Desktop& desktop) : desktop_(desktop) {}

  bool start() {
    host_ = desktop_.startHost();
    if (!host_)
      return false;
    for (const auto& kind : editors()) {
      Editor* editor = desktop_.startEditor(kind);
      if (!editor || !editor->typeAndSelectAll("The quick brown fox"))
        return false;
      editors_.push_back(editor);
    }
    return true;
  }

  Editor& editor(std::size_t index) { return *editors_[index]; }

  // The hot key in `editor`, its text all selected, timed until the
  // selection has arrived.
  std::optional<Clock::duration> capture(Editor& editor, double bound = kBound) {
    if (!editor.key("ctrl+a"))
      return std::nullopt;
    auto& user = desktop_.user();
    const auto pressed = Clock::now();
    if (!user.chord({kControl, kShift}, kT))
      return std::nullopt;
    if (!host_->waitForEvent("updateSelection", bound))
      return std::nullopt;
    return Clock::now() - pressed;
  }

  bool restartHost() {
    if (host_->quit() != 0)
      return false;
    host_ = desktop_.startHost();
    return host_ != nullptr;
  }

  void hotKeyToUpdateSelection(benchmark::State& state, std::size_t index) {
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      auto took = capture(editor(index));
      if (!took) {
        state.SkipWithError("no selection came");
        return;
      }
      state.SetIterationTime(seconds(*took));
    }
  }

  void pasteToRestore(benchmark::State& state, std::size_t index) {
    const std::vector<ClipboardTarget> clipboard = {{"text/plain", "the user's own words"}};
    test_support::RawClient reader(desktop_.display());
    auto restored = [&] {
      auto value = reader.read("text/plain");
      return value && std::string(value->data.begin(), value->data.end()) == clipboard[0].bytes;
    };
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      if (!editor(index).activate() || !desktop_.offerClipboard(clipboard)) {
        state.SkipWithError("the desktop is not ready");
        return;
      }
      const auto reply = host_->call("selection", "pasteText", "\" pasted\"");
      const auto answered = Clock::now();
      if (!reply || !reply->value("result", false)) {
        state.SkipWithError("the paste was refused");
        return;
      }
      if (!test_support::waitUntil(restored, kBound)) {
        state.SkipWithError("the clipboard did not come back");
        return;
      }
      state.SetIterationTime(seconds(Clock::now() - answered));
    }
  }

  void captureMemory(benchmark::State& state) {
    const auto size = static_cast<std::size_t>(state.range(0));
    const std::string image = noise(size, static_cast<unsigned>(size));
    double peak = 0;
    double held = 0;
    for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
      // A host of its own each time, which has never held a clipboard: what
      // an allocator keeps of earlier captures would hide this one's cost.
      state.PauseTiming();
      const bool restarted = restartHost();
      state.ResumeTiming();
      if (!restarted) {
        state.SkipWithError("the host did not start again");
        return;
      }
      if (!desktop_.session().offerClipboard("image/png", image)) {
        state.SkipWithError("xclip did not take the clipboard");
        return;
      }
      const std::size_t before = statusBytes(host_->pid(), "VmRSS");
      if (!resetResidentPeak(host_->pid())) {
        state.SkipWithError("cannot reset the host's resident peak");
        return;
      }
      auto took = capture(editor(0), 4 * kBound);
      if (!took) {
        state.SkipWithError("no selection came");
        return;
      }
      state.SetIterationTime(seconds(*took));
      peak = static_cast<double>(statusBytes(host_->pid(), "VmHWM") - before) /
             static_cast<double>(size);
      held =
          (static_cast<double>(statusBytes(host_->pid(), "VmRSS")) - static_cast<double>(before)) /
          static_cast<double>(size);
      // Not timed: the clipboard is whole.
      state.PauseTiming();
      const bool whole = desktop_.readClipboard("image/png") == image;
      state.ResumeTiming();
      if (!whole) {
        state.SkipWithError("the clipboard did not come back whole");
        return;
      }
    }
    state.counters["peak/size"] = peak;
    state.counters["held/size"] = held;
    state.SetBytesProcessed(static_cast<std::int64_t>(size) * state.iterations());
  }

 private:
  Desktop& desktop_;
  HostProcess* host_ = nullptr;
  std::vector<Editor*> editors_;
};

}  // namespace
}  // namespace lumivane::e2e

int main(int argc, char** argv) {
  using lumivane::e2e::Bench;
  using lumivane::e2e::Desktop;
  benchmark::Initialize(&argc, argv);
  Desktop desktop;
  if (!desktop.ready()) {
    std::fprintf(stderr, "no X desktop: %s\n", desktop.failure().c_str());
    return 1;
  }
  Bench bench(desktop);
  if (!bench.start()) {
    std::fprintf(stderr, "the host or an editor did not start\n");
    return 1;
  }
  const auto editors = lumivane::e2e::editors();
  for (std::size_t i = 0; i < editors.size(); ++i) {
    benchmark::RegisterBenchmark(
        ("HotKeyToUpdateSelection/" + editors[i].name).c_str(),
        [&bench, i](benchmark::State& state) { bench.hotKeyToUpdateSelection(state, i); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(20);
    benchmark::RegisterBenchmark(
        ("PasteToRestore/" + editors[i].name).c_str(),
        [&bench, i](benchmark::State& state) { bench.pasteToRestore(state, i); })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(10);
  }
  benchmark::RegisterBenchmark("CaptureMemory",
                               [&bench](benchmark::State& state) { bench.captureMemory(state); })
      ->UseManualTime()
      ->Unit(benchmark::kMillisecond)
      ->Args({8 << 20})
      ->Args({64 << 20})
      ->Iterations(3);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
