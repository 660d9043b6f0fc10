#pragma once

#include <string_view>

namespace lumivane::headless {

// Texts kept as files of their own in headless/, compiled in at build time.

// The built-in demo: headless/scenarios/demo.scenario.
std::string_view demoScenario();

// The help after its usage lines: headless/help.txt, in which the lines
// "{desktops}" and "{interfaces}" stand for the lists of those built in.
std::string_view helpTemplate();

}  // namespace lumivane::headless
