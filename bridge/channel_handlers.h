#pragma once

#include <memory>

#include "platform/flutter/method_call.h"
#include "platform/flutter/method_result.h"

namespace lumivane {

class AppDelegate;

inline constexpr const char* kSelectionChannelName = "com.lumivane.app/selection";
inline constexpr const char* kSystemChannelName = "com.lumivane.app/system";

// The handlers of the two channels. Each answers every call exactly once
// before returning, checks its arguments before looking for the delegate, and
// gives a fixed answer once the delegate is gone. Main thread.
void handleSelectionCall(const std::weak_ptr<AppDelegate>& delegate,
                         const platform::FlutterMethodCall& call,
                         const platform::FlutterResult& result);
void handleSystemCall(const std::weak_ptr<AppDelegate>& delegate,
                      const platform::FlutterMethodCall& call,
                      const platform::FlutterResult& result);

}  // namespace lumivane
