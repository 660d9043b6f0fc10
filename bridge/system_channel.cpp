#include <limits>

#include "bridge/channel_handlers.h"
#include "shell/app_delegate.h"

namespace lumivane {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;

// A key code or modifier mask as the platform takes it: an integer that fits
// in 32 unsigned bits. Anything else is refused rather than truncated, which
// would register a different chord than the interface asked for.
std::optional<std::uint32_t> unsigned32(const EncodableMap& map, const char* key) {
  auto it = map.find(EncodableValue(key));
  if (it == map.end())
    return std::nullopt;
  auto value = platform::asInt64(it->second);
  if (!value || *value < 0 || *value > std::numeric_limits<std::uint32_t>::max()) {
    return std::nullopt;
  }
  return static_cast<std::uint32_t>(*value);
}

bool hasOnlyStringKeys(const EncodableMap& map) {
  for (const auto& [key, value] : map) {
    if (!std::holds_alternative<std::string>(key))
      return false;
  }
  return true;
}

}  // namespace

void handleSystemCall(const std::weak_ptr<AppDelegate>& weak,
                      const platform::FlutterMethodCall& call,
                      const platform::FlutterResult& result) {
  const std::string& method = call.method();

  if (method == "setLaunchAtLogin") {
    const auto* enabled = std::get_if<bool>(&call.arguments());
    if (!enabled) {
      return result(platform::FlutterError("INVALID_ARGUMENT", "Boolean argument required"));
    }
    auto self = weak.lock();
    if (!self)
      return result(EncodableValue());
    // A refused change is told to the interface, so its switch does not show
    // a state the platform does not hold.
    if (auto error = self->setLaunchAtLogin(*enabled)) {
      return result(platform::FlutterError("LAUNCH_AT_LOGIN_FAILED", error->localizedDescription));
    }
    return result(EncodableValue());
  }

  if (method == "getLaunchAtLogin") {
    auto self = weak.lock();
    return result(EncodableValue(self != nullptr && self->isLaunchAtLoginEnabled()));
  }

  if (method == "setGlobalHotKey") {
    const auto* map = std::get_if<EncodableMap>(&call.arguments());
    std::optional<std::uint32_t> keyCode;
    std::optional<std::uint32_t> modifiers;
    if (map && hasOnlyStringKeys(*map)) {
      keyCode = unsigned32(*map, "keyCode");
      modifiers = unsigned32(*map, "modifiers");
    }
    if (!keyCode || !modifiers) {
      return result(platform::FlutterError("INVALID_ARGUMENT", "keyCode and modifiers required"));
    }
    auto self = weak.lock();
    if (!self)
      return result(EncodableValue());
    // A chord the platform refuses leaves the previous one in force; the
    // interface learns that its choice did not take.
    if (self->updateGlobalHotKey(*keyCode, *modifiers) != platform::noErr) {
      return result(
          platform::FlutterError("HOTKEY_UNAVAILABLE", "Hot key could not be registered"));
    }
    return result(EncodableValue());
  }

  result(platform::FlutterMethodNotImplemented);
}

}  // namespace lumivane
