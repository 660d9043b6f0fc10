#pragma once

#include <string>

#include "platform/flutter/encodable_value.h"

namespace lumivane::platform {

// One call across a method channel (FlutterMethodCall): a method name and one
// arguments value, null when the caller passed none.
class FlutterMethodCall {
 public:
  explicit FlutterMethodCall(std::string method, EncodableValue arguments = EncodableValue())
      : method_(std::move(method)), arguments_(std::move(arguments)) {}

  const std::string& method() const { return method_; }
  const EncodableValue& arguments() const { return arguments_; }

  friend bool operator==(const FlutterMethodCall&, const FlutterMethodCall&) = default;

 private:
  std::string method_;
  EncodableValue arguments_;
};

}  // namespace lumivane::platform
