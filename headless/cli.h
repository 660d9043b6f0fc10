#pragma once

#include <functional>
#include <iosfwd>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <variant>
#include <vector>

#include "headless/interfaces.h"
#include "platform/backends.h"
#include "platform/desktop.h"

namespace lumivane::headless {

struct CommandLineStreams {
  std::istream& in;
  std::ostream& out;
  std::ostream& err;
};

// The desktop that was asked for could not be opened.
inline constexpr int kExitNoDesktop = 1;
// Nothing ran: the arguments or the scenario were not usable.
inline constexpr int kExitUsage = 2;

// What the arguments ask for.
struct Options {
  bool help = false;
  // Asks the running host to act as if its hot key had been pressed, and
  // nothing else.
  bool capture = false;
  // The backend asked for with --desktop; absent: the first real one that is
  // available, else the demo.
  std::optional<std::string> desktop;
  // On the simulated desktop: asked for with --desktop sim, or implied by
  // --scenario and --json, which only mean something there.
  bool simulated = false;
  // A file, or "-" for standard input; absent: the demo.
  std::optional<std::string> scenario;
  bool json = false;
  // What runs in the panel on a real desktop: the name of a built-in
  // interface, or "none"; absent: the desktop's default interface, if it has
  // one.
  std::optional<std::string> interface;
};

// Parses the arguments after the program name, knowing the backends and
// interfaces built in. A message saying what is wrong when they make no
// sense.
std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args,
                                                std::span<const platform::Backend> backends,
                                                std::span<const PanelInterface> interfaces);

// The lumivane executable's work. With no arguments: the host on the first
// real backend of `backends` that is available, with that desktop's default
// interface of `interfaces` in its panel; when none is available, one line on
// standard error says why and the demo runs on the simulated desktop. With
// --desktop NAME: that backend or, when it cannot open, exit status
// kExitNoDesktop and the reason. An interface asked for with --interface
// that cannot draw on the desktop opened ends the run with kExitUsage and
// the reason. With --capture: the running host's hot key, pressed through
// platform::pressHotKeyOfRunningHost; when no host runs, the reason and
// kExitNoDesktop. Returns the process's exit status: the application's,
// kExitNoDesktop, or kExitUsage when the host did not run.
int runCommandLine(int argc,
                   char** argv,
                   CommandLineStreams streams,
                   std::span<const platform::Backend> backends,
                   std::span<const PanelInterface> interfaces);

}  // namespace lumivane::headless
