// The hot key in real applications (tests/apps/applications.h), on a private
// Xvfb desktop with openbox and the host as a user runs it:
//
//  - HotKeyToUpdateSelection/APP: the user's selection made as in the tests
//    (not timed), then from the moment the hot key goes down (XTest) until
//    the interface's "updateSelection" line has been read. One application
//    of each family: terminals (xterm's selection is read from PRIMARY,
//    xfce4-terminal copies with Control+Shift+C), a GTK 4 editor, a Qt
//    editor, a browser, Emacs (PRIMARY).
//  - Copy/{synthetic,primary}: the same editor (l3afpad) captured with its
//    Control+C, and with a user profile that reads its selection from
//    PRIMARY instead, each with a host of its own.

#include <benchmark/benchmark.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>

#include "tests/apps/applications.h"

namespace lumivane::apps {
namespace {

using Clock = std::chrono::steady_clock;
using e2e::HostProcess;

constexpr xcb_keysym_t kControl = 0xffe3;
constexpr xcb_keysym_t kShift = 0xffe1;
constexpr xcb_keysym_t kT = 0x74;

// A desktop with the host (and the user's profiles file holding
// `userProfiles`, when given).
struct Session {
  explicit Session(const std::string& userProfiles = "") {
    if (!desktop.ready())
      return;
    if (!userProfiles.empty()) {
      const auto folder = desktop.session().configHome() / "lumivane";
      std::filesystem::create_directories(folder);
      std::ofstream(folder / "applications.conf") << userProfiles;
    }
    host = desktop.startHost();
  }
  // Each application is started once, the first time it is timed.
  Editor* editor(App app) {
    if (!host)
      return nullptr;
    auto [it, added] = editors.emplace(app, nullptr);
    if (added)
      it->second = start(desktop, app);
    return it->second;
  }
  Desktop desktop;
  HostProcess* host = nullptr;
  std::map<App, Editor*> editors;
};

// One capture per repetition, so that Google Benchmark's median is the
// captures' median.
void hotKeyToUpdateSelection(benchmark::State& state, Session& session, App app) {
  Editor* editor = session.editor(app);
  if (!editor) {
    state.SkipWithError("the host or the application did not start");
    return;
  }
  const Workflow work = workflow(session.desktop, *editor, app);
  for (auto _ : state) {  // NOLINT(clang-analyzer-deadcode.DeadStores)
    const bool selected = work.select();
    const auto pressed = Clock::now();
    if (!selected || !session.desktop.user().chord({kControl, kShift}, kT)) {
      state.SkipWithError("the selection or the hot key failed");
      return;
    }
    const auto selection = session.host->waitForEvent("updateSelection");
    if (!selection || selection->value("text", "") != work.selected) {
      state.SkipWithError("the selection did not come");
      return;
    }
    state.SetIterationTime(std::chrono::duration<double>(Clock::now() - pressed).count());
  }
}

}  // namespace
}  // namespace lumivane::apps

int main(int argc, char** argv) {
  using lumivane::apps::App;
  using lumivane::apps::Session;
  benchmark::Initialize(&argc, argv);
  auto shared = std::make_unique<Session>();
  auto primary = std::make_unique<Session>("[Primary]\nmatch=l3afpad\ncopy=primary\n");
  auto add = [](const std::string& name, Session& session, App app) {
    benchmark::RegisterBenchmark(name.c_str(),
                                 [&session, app](benchmark::State& state) {
                                   lumivane::apps::hotKeyToUpdateSelection(state, session, app);
                                 })
        ->UseManualTime()
        ->Unit(benchmark::kMillisecond)
        ->Iterations(1)
        ->Repetitions(15)
        ->ReportAggregatesOnly(true);
  };
  add("HotKeyToUpdateSelection/xfce4-terminal", *shared, App::xfce4Terminal);
  add("HotKeyToUpdateSelection/xterm", *shared, App::xterm);
  add("HotKeyToUpdateSelection/gnome-text-editor", *shared, App::gnomeTextEditor);
  add("HotKeyToUpdateSelection/kwrite", *shared, App::kwrite);
  add("HotKeyToUpdateSelection/chromium", *shared, App::chromiumTextarea);
  add("HotKeyToUpdateSelection/emacs", *shared, App::emacs);
  add("Copy/synthetic", *shared, App::l3afpad);
  add("Copy/primary", *primary, App::l3afpad);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
