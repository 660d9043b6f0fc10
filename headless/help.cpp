#include "headless/help.h"

#include <algorithm>
#include <sstream>
#include <string_view>

#include "headless/compiled_texts.h"

namespace lumivane::headless {

std::string usageText(std::span<const platform::Backend> backends,
                      std::span<const PanelInterface> interfaces) {
  std::string names = interfaceNames(interfaces);
  for (std::size_t at = 0; (at = names.find(", ", at)) != std::string::npos;)
    names.replace(at, 2, "|");
  return "usage: lumivane [--desktop " + platform::backendNames(backends) + "] [--interface " +
         names + "]\n" +
         "       lumivane --desktop sim [--scenario FILE | --scenario -] [--json]\n" +
         "       lumivane --capture\n" + "       lumivane --help\n";
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

// Puts `with` where `marker` stands in `text`.
void fill(std::string& text, std::string_view marker, const std::string& with) {
  if (const auto at = text.find(marker); at != std::string::npos)
    text.replace(at, marker.size(), with);
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
  std::string text(helpTemplate());
  fill(text, "{desktops}\n", desktops);
  fill(text, "{interfaces}\n", panels);
  return usageText(backends, interfaces) + "\n" + text;
}

}  // namespace lumivane::headless
