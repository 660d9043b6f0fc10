#pragma once

#include <functional>
#include <memory>
#include <string>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/encodable_value.h"
#include "platform/flutter/flutter_error.h"
#include "platform/flutter/method_call.h"
#include "platform/flutter/method_result.h"

namespace lumivane::platform {

// Handles one decoded call; must answer through `result` exactly once.
using FlutterMethodCallHandler = std::function<void(const FlutterMethodCall&, FlutterResult)>;
// Receives the decoded answer to a call this side made.
using FlutterReplyCallback = std::function<void(const FlutterReply&)>;

// A named channel of method calls over a binary messenger, using the standard
// method codec (FlutterMethodChannel). Main thread only.
class FlutterMethodChannel {
 public:
  // The channel `name` over `messenger` (methodChannelWithName:binaryMessenger:).
  // The channel keeps the messenger alive.
  static std::shared_ptr<FlutterMethodChannel> methodChannelWithName(
      const std::string& name,
      std::shared_ptr<BinaryMessenger> messenger);

  FlutterMethodChannel(std::string name, std::shared_ptr<BinaryMessenger> messenger);

  const std::string& name() const { return name_; }

  // Installs `handler` for calls arriving on this channel; empty removes it,
  // after which calls are answered not implemented. The messenger owns the
  // handler, and it stays installed when this channel object is released, so
  // it must capture the host weakly. Bytes that do not decode as a method call
  // are answered not implemented and never reach the handler.
  void setMethodCallHandler(FlutterMethodCallHandler handler);

  // Calls `method` on the other side without wanting an answer.
  void invokeMethod(const std::string& method, const EncodableValue& arguments) const;
  // Calls `method` on the other side; `callback` gets the decoded answer (not
  // implemented when nobody handles the channel; a FlutterError with code
  // "malformed-reply" when the answer does not decode).
  void invokeMethod(const std::string& method,
                    const EncodableValue& arguments,
                    FlutterReplyCallback callback) const;

 private:
  std::string name_;
  std::shared_ptr<BinaryMessenger> messenger_;
};

}  // namespace lumivane::platform
