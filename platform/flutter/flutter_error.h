#pragma once

#include <optional>
#include <string>
#include <variant>

#include "platform/flutter/encodable_value.h"

namespace lumivane::platform {

// An error answered to a method call (FlutterError): the interface sees it as a
// PlatformException carrying the same code, message and details.
class FlutterError {
 public:
  // Explicit so that a bare string given as a reply means a success value.
  explicit FlutterError(std::string code,
                        std::optional<std::string> message = std::nullopt,
                        EncodableValue details = EncodableValue())
      : code_(std::move(code)), message_(std::move(message)), details_(std::move(details)) {}

  const std::string& code() const { return code_; }
  // Absent when the sender gave none (it crosses as null).
  const std::optional<std::string>& message() const { return message_; }
  // Null when the sender gave none.
  const EncodableValue& details() const { return details_; }

  friend bool operator==(const FlutterError&, const FlutterError&) = default;

 private:
  std::string code_;
  std::optional<std::string> message_;
  EncodableValue details_;
};

// The answer meaning "no such method" (FlutterMethodNotImplemented). It crosses
// as a reply of zero bytes; the interface raises MissingPluginException.
struct FlutterMethodNotImplementedT {
  friend bool operator==(FlutterMethodNotImplementedT, FlutterMethodNotImplementedT) {
    return true;
  }
};
inline constexpr FlutterMethodNotImplementedT FlutterMethodNotImplemented{};

// Every answer a method call can get: a success value (null when there is
// none), an error, or not implemented.
using FlutterReply = std::variant<EncodableValue, FlutterError, FlutterMethodNotImplementedT>;

}  // namespace lumivane::platform
