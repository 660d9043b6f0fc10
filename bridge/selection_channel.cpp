#include "bridge/channel_handlers.h"
#include "shell/app_delegate.h"
#include "system/accessibility.h"

namespace lumivane {

using platform::EncodableValue;

void handleSelectionCall(const std::weak_ptr<AppDelegate>& weak,
                         const platform::FlutterMethodCall& call,
                         const platform::FlutterResult& result) {
  const std::string& method = call.method();

  if (method == "getSelection") {
    auto self = weak.lock();
    if (!self || !checkAccessibility(self->desktop().accessibility(), /*prompt=*/false)) {
      return result(EncodableValue());
    }
    auto text = self->captureSelectionNow();
    return result(text ? EncodableValue(std::move(*text)) : EncodableValue());
  }

  if (method == "checkPermission") {
    auto self = weak.lock();
    return result(EncodableValue(self != nullptr &&
                                 checkAccessibility(self->desktop().accessibility(), false)));
  }

  if (method == "requestPermission") {
    auto self = weak.lock();
    if (!self)
      return result(EncodableValue(false));
    // The platform's prompt must not open behind the floating panel.
    if (self->panel())
      self->panel()->orderOut();
    return result(
        EncodableValue(checkAccessibility(self->desktop().accessibility(), /*prompt=*/true)));
  }

  if (method == "pasteText") {
    const auto* text = std::get_if<std::string>(&call.arguments());
    if (!text) {
      return result(platform::FlutterError("INVALID_ARGUMENT", "Text argument required"));
    }
    auto self = weak.lock();
    return result(EncodableValue(self != nullptr && self->pasteTextToLastActiveApp(*text)));
  }

  if (method == "startWindowDrag") {
    if (auto self = weak.lock()) {
      auto event = self->desktop().application().currentEvent();
      if (self->panel() && event)
        self->panel()->performWindowDragWithEvent(*event);
    }
    return result(EncodableValue());
  }

  result(platform::FlutterMethodNotImplemented);
}

}  // namespace lumivane
