// The lumivane executable, run as a user runs it: arguments, a scenario on
// standard input or in a file, and what comes out.
#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "headless/cli.h"
#include "platform/sim/sim_desktop.h"
#include "tests/headless/lumivane_run.h"

namespace {

using lumivane::headless::test::Outcome;
using Json = nlohmann::json;

class LumivaneCommandTest : public lumivane::headless::test::LumivaneRunTest {};

// Lines of `text` appear in this order (each a fragment of some later line).
void expectInOrder(const std::string& text, const std::vector<std::string>& fragments) {
  std::size_t from = 0;
  for (const auto& fragment : fragments) {
    const auto at = text.find(fragment, from);
    ASSERT_NE(at, std::string::npos) << "missing after offset " << from << ": " << fragment << "\n"
                                     << text;
    from = at + fragment.size();
  }
}

TEST_F(LumivaneCommandTest, DemoTellsTheWholeSession) {
  const Outcome demo = run({});
  ASSERT_EQ(demo.status, 0) << demo.err;
  // One line says why no real desktop is used.
  EXPECT_EQ(std::count(demo.err.begin(), demo.err.end(), '\n'), 1) << demo.err;
  EXPECT_NE(demo.err.find("running the demo on the simulated desktop instead"), std::string::npos)
      << demo.err;
  // What a user of the demo sees happen, in order.
  expectInOrder(demo.out, {
                              "Command+Shift+T registered as the hot key",
                              "Command+C down → Editor (pid 201)",
                              "the interface receives \"Teh quick brown fox",
                              "Editor inserts \"The quick brown fox",
                              "Lumivane writes saved items back",
                              "Command+Option+L registered as the hot key",
                              "Lumivane has quit",
                              "pasteboard      1 item: public.utf8-plain-text "
                              "\"https://example.com/notes\"",
                          });

  // The compiled-in demo is the scenario file, word for word.
  const Outcome file =
      run({"--desktop", "sim", "--scenario",
           std::string(LUMIVANE_SOURCE_DIR) + "/headless/scenarios/demo.scenario"});
  ASSERT_EQ(file.status, 0) << file.err;
  const auto body = [](const std::string& out) { return out.substr(out.find('\n')); };
  EXPECT_EQ(body(file.out), body(demo.out));
}

// The editor answers the copy chord 0.25 s late; the capture reads the
// pasteboard every 0.1 s, so the interface has the text at the third read.
TEST_F(LumivaneCommandTest, DelayedCopyReachesTheInterfaceAtTheReadAfterIt) {
  const Outcome result = run({"--json", "--scenario", "-"},
                             "app Editor selection=\"late text\" copy-delay=0.25\n"
                             "trust on\n"
                             "front Editor\n"
                             "key 17 0x300\n"
                             "wait 2\n");
  ASSERT_EQ(result.status, 0) << result.err;
  const auto all = events(result);
  const auto updates = named(all, "updateSelection");
  ASSERT_EQ(updates.size(), 1u) << result.out;
  EXPECT_EQ(updates[0]["text"], "late text");
  EXPECT_EQ(updates[0]["t"], 0.3);

  const auto copies = named(all, "copied");
  ASSERT_EQ(copies.size(), 1u);
  EXPECT_EQ(copies[0]["t"], 0.25);
  const auto keys = named(all, "keys");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0], (Json{{"t", 0.0},
                           {"event", "keys"},
                           {"keyCode", 8},
                           {"down", true},
                           {"flags", 1048576},
                           {"to", 201}}));
  EXPECT_EQ(named(all, "launched").at(0)["t"], 0.0);
}

// The paste borrows the pasteboard and gives the user's contents back after
// the editor has pasted.
TEST_F(LumivaneCommandTest, PasteRoundTripLeavesTheUsersClipboardAsItWas) {
  const Outcome result = run({"--desktop", "sim", "--json", "--scenario",
                              writeScenario("app Editor\n"
                                            "pasteboard [{\"public.utf8-plain-text\": \"old\", "
                                            "\"public.html\": \"<b>old</b>\"}]\n"
                                            "trust on\n"
                                            "front Editor\n"
                                            "call selection pasteText \"new\"  # accepted\n"
                                            "wait 1\n")});
  ASSERT_EQ(result.status, 0) << result.err;
  const auto all = events(result);

  const auto reply = named(all, "reply").at(0);
  EXPECT_EQ(reply, (Json{{"t", 0.0},
                         {"event", "reply"},
                         {"channel", "selection"},
                         {"method", "pasteText"},
                         {"result", true}}));
  EXPECT_EQ(named(all, "activate").at(0)["app"], "Editor");
  const auto keys = named(all, "keys");
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0]["to"], "hid");
  EXPECT_EQ(keys[0]["keyCode"], 9);
  EXPECT_EQ(keys[0]["t"], 0.3);
  const auto inserted = named(all, "inserted");
  ASSERT_EQ(inserted.size(), 1u);
  EXPECT_EQ(inserted[0],
            (Json{{"t", 0.3}, {"event", "inserted"}, {"app", "Editor"}, {"text", "new"}}));

  // Printed once, at the end of the run: the user's two types are back.
  EXPECT_EQ(all.back(), (Json{{"t", 1.0},
                              {"event", "pasteboard"},
                              {"items", Json::array({{{"public.html", "<b>old</b>"},
                                                      {"public.utf8-plain-text", "old"}}})}}));
}

// Setup written before the first statement that needs the host is in place
// when it launches; once the user quits, the statements after do not run.
TEST_F(LumivaneCommandTest, SetupPrecedesLaunchAndQuittingEndsTheRun) {
  const Outcome result = run({"--json", "--scenario", "-"},
                             "hotkey-taken 17 0x300\n"
                             "key 17 0x300\n"
                             "click right choose=Quit\n"
                             "call selection checkPermission\n"
                             "wait 1\n");
  ASSERT_EQ(result.status, 0) << result.err;
  std::vector<std::string> sequence;
  for (const auto& event : events(result)) {
    const std::string name = event["event"];
    if (name == "hotkey")
      sequence.push_back("hotkey " + event["change"].get<std::string>());
    if (name == "press")
      sequence.push_back(event["toHost"] ? "press to host" : "press elsewhere");
    if (name == "launched" || name == "reply" || name == "pasteboard")
      sequence.push_back(name);
    if (name == "menu")
      sequence.push_back("menu " + event["chosen"].dump());
    if (name == "terminated")
      sequence.push_back("terminated " + event["skipped"].dump());
  }
  EXPECT_EQ(sequence, (std::vector<std::string>{"hotkey refused", "launched", "press elsewhere",
                                                "menu \"Quit\"", "terminated 2", "pasteboard"}));
}

// A mistake on line 4 stops the run before the statements above it run.
TEST_F(LumivaneCommandTest, MalformedStatementStopsTheRunBeforeItStarts) {
  const Outcome result = run({"--scenario", "-"},
                             "app Editor\n"
                             "pasteboard [{\"public.utf8-plain-text\": \"old\"}]\n"
                             "\n"
                             "trust sometimes\n");
  EXPECT_EQ(result.status, 2);
  EXPECT_EQ(result.out, "");
  EXPECT_EQ(result.err,
            "lumivane: standard input, line 4: expected on or off after trust, found "
            "\"sometimes\"\n");
}

TEST_F(LumivaneCommandTest, OptionsItCannotUseGetTheUsage) {
  for (const auto& args : std::vector<std::vector<std::string>>{{"--verbose"},
                                                                {"--desktop", "mir"},
                                                                {"--interface", "qt"},
                                                                {"--scenario"},
                                                                {"--json", "--json"}}) {
    const Outcome result = run(args);
    EXPECT_EQ(result.status, 2) << args[0];
    EXPECT_EQ(result.out, "");
    EXPECT_NE(result.err.find("usage: lumivane"), std::string::npos) << result.err;
  }
  const Outcome missing = run({"--scenario", dir_ + "/absent"});
  EXPECT_EQ(missing.status, 2);
  EXPECT_NE(missing.err.find("cannot read the scenario"), std::string::npos);

  const Outcome help = run({"--help"});
  EXPECT_EQ(help.status, 0);
  for (const char* statement : {"app NAME", "front NAME", "pasteboard JSON", "trust on",
                                "key KEYCODE", "click left", "call selection", "hotkey-taken",
                                "login-service", "os MAJOR", "wait SECONDS", "show pasteboard"}) {
    EXPECT_NE(help.out.find(statement), std::string::npos) << statement;
  }
}

}  // namespace

namespace lumivane::headless {
namespace {

struct InProcessRun {
  int status = -1;
  std::string out;
  std::string err;
};

InProcessRun runInProcess(std::vector<std::string> args,
                          std::span<const platform::Backend> backends,
                          std::span<const PanelInterface> interfaces = {}) {
  args.insert(args.begin(), "lumivane");
  std::vector<char*> argv;
  for (auto& arg : args)
    argv.push_back(arg.data());
  std::istringstream in;
  std::ostringstream out;
  std::ostringstream err;
  InProcessRun run;
  run.status = runCommandLine(static_cast<int>(argv.size()), argv.data(), {in, out, err}, backends,
                              interfaces);
  run.out = out.str();
  run.err = err.str();
  return run;
}

// A build with one real backend, "fake", played by a simulated desktop, and
// the simulated desktop itself.
struct FakeBackends {
  int opened = 0;
  std::size_t hotKeysAtRun = 0;
  std::string unavailable;
  std::string openFailure;
  std::vector<platform::Backend> table;

  FakeBackends() {
    table.push_back(
        platform::Backend{"fake", "a desktop that a simulated one stands in for", /*real=*/true,
                          [this] { return unavailable; },
                          [this](std::string* error) -> std::unique_ptr<platform::Desktop> {
                            ++opened;
                            if (!openFailure.empty()) {
                              *error = openFailure;
                              return nullptr;
                            }
                            auto desktop = std::make_unique<platform::sim::SimDesktop>();
                            auto* sim = desktop.get();
                            sim->application().setRunHook([this, sim] {
                              hotKeysAtRun = sim->hotKeys().registrations().size();
                              sim->runUntilIdle();
                            });
                            return desktop;
                          }});
    for (auto& backend : platform::builtInBackends()) {
      if (std::string(backend.name) == "sim")
        table.push_back(backend);
    }
  }
};

// With a desktop to run on, the bare command starts the host there and tells
// nothing; asking for the simulated desktop never touches the real one.
TEST(LumivaneCommandLineTest, BareCommandRunsTheHostOnTheFirstAvailableRealDesktop) {
  FakeBackends fake;
  const InProcessRun bare = runInProcess({}, fake.table);
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(fake.opened, 1);
  EXPECT_EQ(fake.hotKeysAtRun, 1u);
  EXPECT_EQ(bare.out, "");
  EXPECT_EQ(bare.err, "");

  const InProcessRun simulated = runInProcess({"--desktop", "sim"}, fake.table);
  EXPECT_EQ(simulated.status, 0);
  EXPECT_EQ(fake.opened, 1);
  EXPECT_NE(simulated.out.find("the demo scenario"), std::string::npos);

  const InProcessRun named = runInProcess({"--desktop=fake"}, fake.table);
  EXPECT_EQ(named.status, 0);
  EXPECT_EQ(fake.opened, 2);
}

// No real desktop here: the bare command says why in one line and runs the
// demo; asking for that desktop by name fails with the reason instead of
// falling back.
TEST(LumivaneCommandLineTest, WithoutARealDesktopOnlyTheBareCommandFallsBackToTheDemo) {
  FakeBackends fake;
  fake.unavailable = "no display is set (DISPLAY is empty)";
  const InProcessRun bare = runInProcess({}, fake.table);
  EXPECT_EQ(bare.status, 0);
  EXPECT_EQ(fake.opened, 0);
  EXPECT_EQ(bare.err,
            "lumivane: no real desktop to run on (fake: no display is set (DISPLAY is empty)); "
            "running the demo on the simulated desktop instead\n");
  EXPECT_NE(bare.out.find("the demo scenario"), std::string::npos);

  const InProcessRun named = runInProcess({"--desktop", "fake"}, fake.table);
  EXPECT_EQ(named.status, kExitNoDesktop);
  EXPECT_EQ(named.err,
            "lumivane: cannot open the fake desktop: no display is set (DISPLAY is empty)\n");
  EXPECT_EQ(named.out, "");

  // Available, but failing to open: the same, with the opener's reason.
  fake.unavailable.clear();
  fake.openFailure = "cannot connect to the X display :7";
  const InProcessRun failing = runInProcess({"--desktop", "fake"}, fake.table);
  EXPECT_EQ(failing.status, kExitNoDesktop);
  EXPECT_EQ(failing.err,
            "lumivane: cannot open the fake desktop: cannot connect to the X display :7\n");
  const InProcessRun bareFailing = runInProcess({}, fake.table);
  EXPECT_EQ(bareFailing.status, 0);
  EXPECT_NE(bareFailing.err.find("fake: cannot connect to the X display :7"), std::string::npos);

  // A build with no real backend at all says so.
  const std::vector<platform::Backend> simOnly(fake.table.begin() + 1, fake.table.end());
  const InProcessRun none = runInProcess({}, simOnly);
  EXPECT_EQ(none.err,
            "lumivane: this build has no real desktop backend; running the demo on the simulated "
            "desktop instead\n");
}

TEST(LumivaneCommandLineTest, HelpListsTheBackendsOfThisBuildAndUnknownOnesAreRefused) {
  FakeBackends fake;
  const InProcessRun help = runInProcess({"--help"}, fake.table);
  EXPECT_EQ(help.status, 0);
  EXPECT_NE(help.out.find("  fake              a desktop that a simulated one stands in for\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("  sim "), std::string::npos);
  const InProcessRun unknown = runInProcess({"--desktop", "wayland"}, fake.table);
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err.substr(0, unknown.err.find('\n')),
            "lumivane: unknown desktop \"wayland\" (this build has: fake, sim)");
  const InProcessRun mixed = runInProcess({"--desktop", "fake", "--json"}, fake.table);
  EXPECT_EQ(mixed.status, kExitUsage);
}

// Interfaces of a build: "fake-ui" draws on the fake desktop and is its
// default; "elsewhere" is the default of a desktop this build does not open.
struct FakeInterfaces {
  // Which interfaces were started in an engine, in order.
  std::vector<std::string> started;
  std::vector<PanelInterface> table;

  struct Running : platform::RunningInterface {};

  PanelInterface make(const char* name, const char* desktop) {
    return PanelInterface{name, "an interface that only says it started", desktop,
                          /*byDefault=*/true, [this, name](platform::Desktop&, std::ostream&) {
                            return [this, name](platform::FlutterViewController&) {
                              started.push_back(name);
                              return std::make_unique<Running>();
                            };
                          }};
  }

  FakeInterfaces() {
    table.push_back(make("elsewhere", "other"));
    table.push_back(make("fake-ui", "fake"));
  }
};

// On a real desktop the panel gets that desktop's own interface unless the
// command names another, or none.
TEST(LumivaneCommandLineTest, TheDesktopsDefaultInterfaceRunsUnlessAnotherOrNoneIsNamed) {
  FakeBackends fake;
  FakeInterfaces interfaces;
  const InProcessRun bare = runInProcess({}, fake.table, interfaces.table);
  EXPECT_EQ(bare.status, 0) << bare.err;
  EXPECT_EQ(interfaces.started, std::vector<std::string>{"fake-ui"});

  interfaces.started.clear();
  const InProcessRun none = runInProcess({"--interface", "none"}, fake.table, interfaces.table);
  EXPECT_EQ(none.status, 0) << none.err;
  EXPECT_TRUE(interfaces.started.empty());

  const InProcessRun named =
      runInProcess({"--interface=fake-ui", "--desktop", "fake"}, fake.table, interfaces.table);
  EXPECT_EQ(named.status, 0) << named.err;
  EXPECT_EQ(interfaces.started, std::vector<std::string>{"fake-ui"});

  // A build whose interfaces all draw on other desktops runs none by default.
  interfaces.started.clear();
  const std::vector<PanelInterface> otherOnly(interfaces.table.begin(),
                                              interfaces.table.begin() + 1);
  const InProcessRun bareOther = runInProcess({}, fake.table, otherOnly);
  EXPECT_EQ(bareOther.status, 0) << bareOther.err;
  EXPECT_TRUE(interfaces.started.empty());
}

// An interface that cannot draw on the desktop opened, or that this build
// does not have, ends the run before the host starts, saying why.
TEST(LumivaneCommandLineTest, InterfacesThatCannotRunAreRefusedWithTheReason) {
  FakeBackends fake;
  FakeInterfaces interfaces;
  const InProcessRun elsewhere =
      runInProcess({"--interface", "elsewhere"}, fake.table, interfaces.table);
  EXPECT_EQ(elsewhere.status, kExitUsage);
  EXPECT_EQ(elsewhere.err,
            "lumivane: the elsewhere interface runs only on the other desktop, not on the fake "
            "desktop\n");
  EXPECT_TRUE(interfaces.started.empty());

  const InProcessRun unknown = runInProcess({"--interface", "qt"}, fake.table, interfaces.table);
  EXPECT_EQ(unknown.status, kExitUsage);
  EXPECT_EQ(unknown.err.substr(0, unknown.err.find('\n')),
            "lumivane: unknown interface \"qt\" (this build has: elsewhere, fake-ui, none)");
  EXPECT_NE(unknown.err.find("[--interface elsewhere|fake-ui|none]"), std::string::npos)
      << unknown.err;
  const int opened = fake.opened;
  const InProcessRun onSim =
      runInProcess({"--desktop", "sim", "--interface", "fake-ui"}, fake.table, interfaces.table);
  EXPECT_EQ(onSim.status, kExitUsage);
  EXPECT_EQ(fake.opened, opened);

  const InProcessRun help = runInProcess({"--help"}, fake.table, interfaces.table);
  EXPECT_NE(help.out.find("  fake-ui           an interface that only says it started (the "
                          "default on the\n                    fake desktop)\n"),
            std::string::npos)
      << help.out;
  EXPECT_NE(help.out.find("  none              nothing runs in the panel"), std::string::npos);
}

}  // namespace
}  // namespace lumivane::headless
