#pragma once

#include <span>
#include <string>

#include "headless/interfaces.h"
#include "platform/backends.h"

namespace lumivane::headless {

// How the command line is used, in three lines, naming the backends and
// interfaces built in.
std::string usageText(std::span<const platform::Backend> backends,
                      std::span<const PanelInterface> interfaces);

// The usage lines, then every option, backend, interface and statement, with
// examples.
std::string helpText(std::span<const platform::Backend> backends,
                     std::span<const PanelInterface> interfaces);

}  // namespace lumivane::headless
