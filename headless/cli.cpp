#include "headless/cli.h"

#include <unistd.h>
#include <algorithm>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <istream>
#include <iterator>
#include <ostream>
#include <sstream>

#include "headless/event_log.h"
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
  for (const auto& backend : backends) {
    if (!backend.real)
      continue;
    std::string reason = backend.unavailableReason();
    if (reason.empty()) {
      if ((opened.desktop = backend.open(&reason))) {
        opened.backend = &backend;
        return opened;
      }
    }
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

std::string usageText(std::span<const platform::Backend> backends,
                      std::span<const PanelInterface> interfaces) {
  std::string names = interfaceNames(interfaces);
  for (std::size_t at = 0; (at = names.find(", ", at)) != std::string::npos;)
    names.replace(at, 2, "|");
  return "usage: lumivane [--desktop " + platform::backendNames(backends) + "] [--interface " +
         names + "]\n" +
         "       lumivane --desktop sim [--scenario FILE | --scenario -] [--json]\n" +
         "       lumivane --help\n";
}

namespace {

// "  NAME" then the description, wrapped at 80 columns in a column of its own.
std::string describedRow(const std::string& name, const std::string& description) {
  std::string rows;
  std::string line = "  " + name;
  line.resize(std::max<std::size_t>(line.size() + 1, 20), ' ');
  std::istringstream words(description);
  bool first = true;
  for (std::string word; words >> word; first = false) {
    if (!first && line.size() + 1 + word.size() > 80) {
      rows += line + "\n";
      line = std::string(20, ' ');
      first = true;
    }
    line += (first ? "" : " ") + word;
  }
  return rows + line + "\n";
}

}  // namespace

std::string helpText(std::span<const platform::Backend> backends,
                     std::span<const PanelInterface> interfaces) {
  std::string desktops;
  for (const auto& backend : backends)
    desktops += describedRow(backend.name, backend.description);
  std::string panels;
  for (const auto& interface : interfaces) {
    std::string description = interface.description;
    if (interface.byDefault) {
      description += interface.desktop
                         ? std::string(" (the default on the ") + interface.desktop + " desktop)"
                         : std::string(" (the default)");
    }
    panels += describedRow(interface.name, description);
  }
  panels += describedRow(std::string(kNoInterface),
                         "nothing runs in the panel: the host's calls go unanswered (the default "
                         "on a desktop that no interface above is the default on)");
  return usageText(backends, interfaces) + R"(
With no options, Lumivane runs on the first desktop of this machine that this
build has a backend for and that is available, with that desktop's interface
in its panel; when there is none, it says why and runs its demo instead, one
whole session on the simulated desktop, told line by line.

Desktops in this build
)" + desktops +
         R"(
Interfaces in this build (what runs in the panel of a real desktop)
)" + panels +
         R"(
Options
  --desktop NAME    run on that desktop, and only there: when it cannot open,
                    say why and exit with status 1
  --interface NAME  on a real desktop, run that interface in the panel (see
                    above); one that cannot draw on the desktop opened ends
                    the run with status 2
  --scenario FILE   run the statements in FILE instead of the demo (- reads
                    standard input); implies --desktop sim
  --json            print one JSON object a line instead of readable lines;
                    implies --desktop sim
  -h, --help        print this help

Scenarios
One statement a line. '#' starts a comment, except inside a JSON string; blank
lines are ignored. SECONDS are virtual seconds from 0 to 86400 (0.25, 2.5e-1);
STRING is a JSON string literal ("with \"escapes\""); NAME, ID and TITLE are
single words or JSON strings. The whole scenario is read before anything runs:
a malformed statement stops the run with its line number and what was wrong.

Lumivane starts just before the first statement that needs it (key, click,
call, wait, front host), or after the last statement when none does, so the
setup written before that point is in place when it launches: an application
in front, a hot key another application holds. Setup statements (app, front
NAME, pasteboard, trust, hotkey-taken, login-service, os, show pasteboard) may
also come later and take effect where they stand. After each statement, the
work it made due at that moment runs before the next one. The run ends after
the last statement (no more time passes: end with a wait to let pending work
finish) or as soon as Lumivane quits, and the pasteboard is printed then.

  app NAME [bundle=ID|none] [pid=N] [selection=STRING] [copy-delay=SECONDS]
      [copies=text|image|nothing]
      Declares an application. Defaults: bundle com.example.NAME, pid numbered
      from 201, selection "", copy-delay 0.05, copies text. Sent the copy chord
      (Command+C), it puts its selection on the pasteboard copy-delay later: as
      plain text, as image data only, or not at all. Sent the paste chord
      (Command+V) while in front, it inserts the pasteboard's plain text.
        app Editor selection="Teh quick brown fox" copy-delay=0.25

  front NAME | front host
      The user brings NAME to the front and the workspace announces it; "host"
      brings Lumivane itself to the front.
        front Editor

  pasteboard JSON
      What the user has on the pasteboard: null (the pasteboard gives no item
      list until something is written to it), or an array of items, each an
      object from type to content (null content: data that cannot be read).
        pasteboard [{"public.utf8-plain-text": "old", "public.html": "<b>old</b>"}]

  trust on | trust off
      The user grants or revokes the Accessibility permission (off at start).
      Without it the system drops Lumivane's synthetic key presses.
        trust on

  key KEYCODE MODIFIERS
      The user presses a chord anywhere: a virtual key code and a modifier mask
      (Command 0x100, Shift 0x200, Option 0x800, Control 0x1000), each decimal
      or 0x hex. It reaches Lumivane when it is its registered hot key
      (Command+Shift+T at start).
        key 17 0x300

  click left | click right [choose=TITLE]
      The user clicks Lumivane's status item. A left click shows the panel and
      captures the selection, or hides the panel when it is up. A right click
      opens the menu, which the user dismisses, or in which they choose TITLE.
        click right choose=Quit

  call selection|system METHOD [JSON]
      The interface calls METHOD on a channel, with JSON as its argument (none
      when absent): null, true, false, integers (64-bit), numbers, strings,
      arrays and objects. The host's reply is printed.
        call selection pasteText "The quick brown fox"
        call system setGlobalHotKey {"keyCode": 37, "modifiers": 2304}

  hotkey-taken KEYCODE MODIFIERS
      Another application already holds that chord: registering it fails.
        hotkey-taken 17 0x300

  login-service enabled | requires-approval | refuse [STRING]
      How the system answers when Lumivane registers to launch at login: at
      once, pending the user's approval, or with a refusal described by STRING.
        login-service refuse "Operation not permitted"

  os MAJOR.MINOR[.PATCH]
      The macOS version the system reports (14.5.0 at start).
        os 12.7.1

  wait SECONDS
      Virtual time passes; everything due runs, in order.
        wait 0.5

  show pasteboard
      Prints what the pasteboard holds now.

Output
Readable lines give the virtual time, the event and what happened; each
statement is shown (with its comment) before what it set off. Names and texts
that hold control characters are shown as JSON strings, escaped. A line about
a change to the pasteboard describes its first 8 items (and 8 types of each)
and counts the rest. With --json, one object a line, each with "t" (virtual
seconds, three decimals) and "event":
  starting          Lumivane starts, before its start-up
  launched          start-up has finished
  step              {"line","statement"}: a statement is about to run
  panel             {"visible"}: the panel was shown or hidden
  keys              {"keyCode","down","flags","to"}: a key event Lumivane
                    posted; "to" is a pid or "hid"
  activate          {"app"}: Lumivane activated an application
  front             {"app"}: an application came to the front otherwise
  inserted          {"app","text"}: an application pasted (text null: the
                    pasteboard held no text)
  copied            {"app"}: an application answered the copy chord
  clipboard         {"op"}: Lumivane changed the pasteboard (clearContents,
                    setString or writeObjects)
  updateSelection   {"text"}: Lumivane handed the interface the selection
  call              {"channel","method","arguments"}: another call Lumivane
                    made to the interface
  reply             {"channel","method"} and "result" (any JSON value), or
                    "error" {"code","message"}, or "notImplemented": true
  prompt            the system's Accessibility prompt came up
  stdout            {"line"}: Lumivane printed a line
  press             {"keyCode","modifiers","toHost"}: the user pressed a chord
  click             {"button","reached"}: the user clicked the status item
  menu              {"items","chosen"}: the status item's menu opened (chosen
                    null: dismissed)
  hotkey            {"keyCode","modifiers","change"}: registered, unregistered,
                    or refused (with "status")
  viewController, plugin {"name"}, window {"window","kind","change"},
  statusItem {"button"}
                    start-up as it happens
  terminated        {"skipped"}: Lumivane quit; that many statements did not run
  pasteboard        {"items"}: null (no item list) or one object per item from
                    type to content: the text when the bytes are UTF-8,
                    "<N bytes>" when they are not, null when unreadable

Exit status: 0, or Lumivane's own when the scenario makes it quit; 1 when the
desktop asked for cannot open; 2 when the options or the scenario are not
usable, in which case nothing ran.
)";
}

}  // namespace lumivane::headless
