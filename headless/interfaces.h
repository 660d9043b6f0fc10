#pragma once

#include <functional>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/desktop.h"
#include "platform/flutter/flutter_app_delegate.h"

namespace lumivane::headless {

// One interface built into this program that can run in the panel of a real
// desktop, as the Flutter interface one day will.
struct PanelInterface {
  // What `--interface NAME` asks for: "gtk", "console".
  const char* name;
  // One line for the help text.
  const char* description;
  // The backend whose panel it can draw in; null: any real desktop's.
  const char* desktop;
  // Runs when no --interface is given, on its desktop.
  bool byDefault;
  // What starts it in each engine `desktop` makes. `out` is the program's
  // standard output; both outlive the runner.
  std::function<platform::InterfaceRunner(platform::Desktop& desktop, std::ostream& out)> runner;
};

// The name that asks for no interface at all: the channels go unanswered.
inline constexpr std::string_view kNoInterface = "none";

// Every interface built in, in the order a default is looked for.
std::vector<PanelInterface> builtInInterfaces();

// The interface called `name` among `interfaces`; null when there is none.
const PanelInterface* findInterface(std::span<const PanelInterface> interfaces,
                                    std::string_view name);

// The interface that runs on the desktop of backend `backendName` when none
// is asked for; null when none does.
const PanelInterface* defaultInterface(std::span<const PanelInterface> interfaces,
                                       std::string_view backendName);

// "gtk, console, none": the names, for messages.
std::string interfaceNames(std::span<const PanelInterface> interfaces);

}  // namespace lumivane::headless
