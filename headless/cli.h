#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "platform/desktop.h"

namespace lumivane::headless {

// The desktop of the machine the process runs on, or null when this build has
// no backend for it.
using RealDesktopOpener = std::function<std::unique_ptr<platform::Desktop>()>;

struct CommandLineStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// Nothing ran: the arguments or the scenario were not usable.
inline constexpr int kExitUsage = 2;

// What the arguments ask for.
struct Options {
  bool help = false;
  // On the simulated desktop: asked for with --desktop sim, or implied by
  // --scenario and --json, which only mean something there.
  bool simulated = false;
  // A file, or "-" for standard input; absent: the demo.
  std::optional<std::string> scenario;
  bool json = false;
};

// Parses the arguments after the program name. A message saying what is
// wrong when they make no sense.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args);

// The lumivane executable's work. With no arguments: the host on the real
// desktop when `openRealDesktop` gives one, otherwise the demo on the
// simulated desktop. Returns the process's exit status: the application's,
// or kExitUsage when nothing ran.
int runCommandLine(int argc,
                   char** argv,
                   CommandLineStreams streams,
                   const RealDesktopOpener& openRealDesktop);

// The built-in demo: the text of headless/scenarios/demo.scenario, compiled in.
std::string_view demoScenario();

std::string usageText();
// Every option and statement, with examples.
std::string helpText();

}  // namespace lumivane::headless
