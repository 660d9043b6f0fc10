#include "headless/cli.h"

#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <ostream>

#include "headless/compiled_texts.h"
#include "headless/event_log.h"
#include "headless/help.h"
#include "headless/readable_text.h"
#include "headless/scenario.h"
#include "headless/session.h"
#include "platform/sim/sim_desktop.h"
#include "shell/application_main.h"

namespace lumivane::headless {
namespace {

// Larger is not a scenario anyone wrote; refusing it keeps a stray file from
// filling memory.
constexpr std::size_t kMaxScenarioBytes = 16 * 1024 * 1024;

struct ScenarioText {
  std::string text;
  std::string error;
};

ScenarioText readAll(std::istream& in) {
  ScenarioText read;
  errno = 0;
  char buffer[65536];
  while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
    read.text.append(buffer, static_cast<std::size_t>(in.gcount()));
    if (read.text.size() > kMaxScenarioBytes) {
      read.error = "larger than 16 MiB";
      return read;
    }
  }
  if (in.bad())
    read.error = errno ? std::strerror(errno) : "read error";
  return read;
}

ScenarioText readFile(const std::string& path) {
  std::ifstream file(path, std::ios::binary);
  if (!file) {
    ScenarioText read;
    read.error = std::strerror(errno);
    return read;
  }
  return readAll(file);
}

struct OptionMatch {
  bool matched = false;
  // Absent when the option came last, without its value.
  std::optional<std::string> value;
};

// "--scenario=FILE" and "--scenario FILE" alike; the second form consumes
// the next argument.
OptionMatch matchOption(const std::vector<std::string>& args,
                        std::size_t& index,
                        const std::string& option) {
  const std::string& arg = args[index];
  if (arg.rfind(option + "=", 0) == 0)
    return {true, arg.substr(option.size() + 1)};
  if (arg != option)
    return {};
  if (index + 1 < args.size())
    return {true, args[++index]};
  return {true, std::nullopt};
}

}  // namespace

std::variant<Options, std::string> parseOptions(const std::vector<std::string>& args,
                                                std::span<const platform::Backend> backends,
                                                std::span<const PanelInterface> interfaces) {
  Options options;
  bool sawDesktop = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "-h" || arg == "--help") {
      options.help = true;
    } else if (arg == "--capture") {
      options.capture = true;
    } else if (arg == "--json") {
      if (options.json)
        return "--json given twice";
      options.json = true;
      options.simulated = true;
    } else if (auto desktop = matchOption(args, i, "--desktop"); desktop.matched) {
      if (sawDesktop)
        return "--desktop given twice";
      sawDesktop = true;
      if (!desktop.value)
        return "--desktop needs a value: " + platform::backendNames(backends);
      if (!platform::findBackend(backends, *desktop.value)) {
        return "unknown desktop " + quoteText(*desktop.value) +
               " (this build has: " + platform::backendNames(backends) + ")";
      }
      options.desktop = *desktop.value;
      if (*desktop.value == "sim")
        options.simulated = true;
    } else if (auto interface = matchOption(args, i, "--interface"); interface.matched) {
      if (options.interface)
        return "--interface given twice";
      if (!interface.value)
        return "--interface needs a value: " + interfaceNames(interfaces);
      if (*interface.value != kNoInterface && !findInterface(interfaces, *interface.value)) {
        return "unknown interface " + quoteText(*interface.value) +
               " (this build has: " + interfaceNames(interfaces) + ")";
      }
      options.interface = *interface.value;
    } else if (auto scenario = matchOption(args, i, "--scenario"); scenario.matched) {
      if (options.scenario)
        return "--scenario given twice";
      if (!scenario.value || scenario.value->empty()) {
        return "--scenario needs a file (or - for standard input)";
      }
      options.scenario = *scenario.value;
      options.simulated = true;
    } else {
      return "unknown option " + quoteText(arg);
    }
  }
  if (options.capture && (options.desktop || options.interface || options.simulated)) {
    return "--capture reaches the Lumivane already running; it takes no other option";
  }
  if (options.interface && options.simulated) {
    return "--interface is for a real desktop; on the simulated one the scenario plays the "
           "interface";
  }
  if (options.desktop && *options.desktop != "sim" && (options.scenario || options.json)) {
    return "--scenario and --json run on the simulated desktop, not on " +
           quoteText(*options.desktop);
  }
  return options;
}

namespace {

// The desktop the options ask for, opened; or, with no --desktop, the first
// real backend that is available. Tells on `err` why a real desktop is not
// used.
struct Opened {
  std::unique_ptr<platform::Desktop> desktop;
  // The backend it was opened with.
  const platform::Backend* backend = nullptr;
  // Set when the asked-for backend could not open: the run stops.
  bool failed = false;
};

Opened openRealDesktop(const Options& options,
                       std::span<const platform::Backend> backends,
                       std::ostream& err) {
  Opened opened;
  if (options.desktop) {
    const platform::Backend* backend = platform::findBackend(backends, *options.desktop);
    std::string reason = backend->unavailableReason();
    if (reason.empty()) {
      opened.desktop = backend->open(&reason);
      opened.backend = backend;
      if (!opened.desktop && reason.empty())
        reason = "it did not start";
    }
    if (!opened.desktop) {
      err << "lumivane: cannot open the " << backend->name << " desktop: " << reason << "\n";
      opened.failed = true;
    }
    return opened;
  }
  std::string why;
  // Why a desktop this session has was passed over, for when another opens.
  std::string passedOver;
  for (const auto& backend : backends) {
    if (!backend.real)
      continue;
    std::string reason = backend.unavailableReason();
    if (reason.empty()) {
      if ((opened.desktop = backend.open(&reason))) {
        opened.backend = &backend;
        if (!passedOver.empty())
          err << "lumivane: " << passedOver << ": using the " << backend.name << " desktop\n";
        return opened;
      }
    }
    if (passedOver.empty() && backend.inSession && backend.inSession())
      passedOver = reason;
    why += std::string(why.empty() ? "" : "; ") + backend.name + ": " + reason;
  }
  err << "lumivane: "
      << (why.empty() ? std::string("this build has no real desktop backend")
                      : "no real desktop to run on (" + why + ")")
      << "; running the demo on the simulated desktop instead\n";
  return opened;
}

// The interface the options ask for on the desktop of `backend`: the one
// named, or the desktop's default; null for none. Set when the interface
// named cannot draw on that desktop.
struct ChosenInterface {
  const PanelInterface* interface = nullptr;
  std::string problem;
};

ChosenInterface chooseInterface(const Options& options,
                                const platform::Backend& backend,
                                std::span<const PanelInterface> interfaces) {
  if (!options.interface)
    return {defaultInterface(interfaces, backend.name), {}};
  if (*options.interface == kNoInterface)
    return {};
  const PanelInterface* named = findInterface(interfaces, *options.interface);
  if (named->desktop && std::string_view(named->desktop) != backend.name) {
    return {nullptr, std::string("the ") + named->name + " interface runs only on the " +
                         named->desktop + " desktop, not on the " + backend.name + " desktop"};
  }
  return {named, {}};
}

}  // namespace

int runCommandLine(int argc,
                   char** argv,
                   CommandLineStreams streams,
                   std::span<const platform::Backend> backends,
                   std::span<const PanelInterface> interfaces) {
  std::vector<std::string> args;
  for (int i = 1; i < argc; ++i)
    args.emplace_back(argv[i]);
  auto parsed = parseOptions(args, backends, interfaces);
  if (const auto* problem = std::get_if<std::string>(&parsed)) {
    streams.err << "lumivane: " << *problem << "\n" << usageText(backends, interfaces);
    return kExitUsage;
  }
  const Options options = std::get<Options>(parsed);
  if (options.help) {
    streams.out << helpText(backends, interfaces);
    return 0;
  }
  if (options.capture) {
    std::string why;
    if (platform::pressHotKeyOfRunningHost(&why))
      return 0;
    streams.err << "lumivane: " << why << "\n";
    return kExitNoDesktop;
  }
  if (!options.simulated) {
    Opened opened = openRealDesktop(options, backends, streams.err);
    if (opened.failed)
      return kExitNoDesktop;
    if (opened.desktop) {
      platform::Desktop& desktop = *opened.desktop;
      const ChosenInterface chosen = chooseInterface(options, *opened.backend, interfaces);
      if (!chosen.problem.empty()) {
        streams.err << "lumivane: " << chosen.problem << "\n";
        return kExitUsage;
      }
      if (chosen.interface)
        desktop.flutter().setInterfaceRunner(chosen.interface->runner(desktop, streams.out));
      return NSApplicationMain(desktop, argc, argv);
    }
  }

  std::string source = "the demo scenario";
  ScenarioText scenario{std::string(demoScenario()), {}};
  if (options.scenario) {
    const bool fromInput = *options.scenario == "-";
    // A file name is the user's own, but may hold anything a name can.
    source = fromInput ? "standard input" : shownName(*options.scenario);
    scenario = fromInput ? readAll(streams.in) : readFile(*options.scenario);
    if (!scenario.error.empty()) {
      streams.err << "lumivane: cannot read the scenario from " << source << ": " << scenario.error
                  << "\n";
      return kExitUsage;
    }
  }
  ScenarioReading reading = readScenario(scenario.text);
  if (reading.error) {
    streams.err << "lumivane: " << source << ", " << toString(*reading.error) << "\n";
    return kExitUsage;
  }

  platform::sim::SimDesktop desktop;
  EventLog log(streams.out, options.json ? OutputFormat::json : OutputFormat::readable);
  log.prose("Lumivane on the simulated desktop: " + source + ".");
  log.prose("Times are virtual seconds; each statement (▸) is followed by what it set off.");
  const int status = Session(desktop, log).run(reading.statements);
  streams.out.flush();
  return status;
}

}  // namespace lumivane::headless
