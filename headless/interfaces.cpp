#include "headless/interfaces.h"

namespace lumivane::headless {
namespace {

// The simulated desktop has no panel to draw in.
bool runsOn(const PanelInterface& interface, std::string_view backendName) {
  return interface.desktop ? backendName == interface.desktop : backendName != "sim";
}

}  // namespace

const PanelInterface* findInterface(std::span<const PanelInterface> interfaces,
                                    std::string_view name) {
  for (const auto& interface : interfaces) {
    if (name == interface.name)
      return &interface;
  }
  return nullptr;
}

const PanelInterface* defaultInterface(std::span<const PanelInterface> interfaces,
                                       std::string_view backendName) {
  for (const auto& interface : interfaces) {
    if (interface.byDefault && runsOn(interface, backendName))
      return &interface;
  }
  return nullptr;
}

std::string interfaceNames(std::span<const PanelInterface> interfaces) {
  std::string names;
  for (const auto& interface : interfaces)
    names += std::string(interface.name) + ", ";
  return names + std::string(kNoInterface);
}

}  // namespace lumivane::headless
