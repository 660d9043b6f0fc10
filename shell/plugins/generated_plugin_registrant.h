#pragma once

#include "platform/flutter/flutter_view_controller.h"

namespace lumivane {

// Connects the interface's five plug-ins to the embedding, in a fixed order,
// before the host opens its own channels.
void RegisterGeneratedPlugins(platform::FlutterPluginRegistry& registry);

}  // namespace lumivane
