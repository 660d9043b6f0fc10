#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "platform/flutter/encodable_value.h"
#include "platform/flutter/flutter_error.h"
#include "platform/flutter/method_call.h"

namespace lumivane::platform {

// The embedding's standard message codec: values to and from the bytes a
// Flutter interface reads and writes. Stateless; safe to use from any thread.
class StandardMessageCodec {
 public:
  static const StandardMessageCodec& sharedInstance();

  // Integers are written as int32 when they fit, else int64. Strings that are
  // not valid UTF-8 are written with each bad sequence replaced by U+FFFD, so
  // the interface never receives a string it cannot read. A collection longer
  // than 2^32-1 elements cannot be expressed and is written as null.
  std::vector<std::uint8_t> encodeMessage(const EncodableValue& value) const;

  // Absent when `bytes` is not exactly one well-formed value (see
  // StandardMethodCodec for what is rejected). Zero bytes decode as null.
  // Never throws; allocates no more than the bytes present justify.
  std::optional<EncodableValue> decodeMessage(std::span<const std::uint8_t> bytes) const;
};

// The embedding's standard method codec: method calls and their reply
// envelopes, built on the message codec. Stateless; safe to use from any
// thread.
//
// Every decode treats its input as untrusted: reads are bounds-checked, sizes
// are checked against the bytes remaining before anything is allocated,
// containers nest at most kMaxNesting deep, and unknown or legacy type tags,
// invalid UTF-8 and bytes after the last value are rejected. Decoders return
// absent instead of throwing.
class StandardMethodCodec {
 public:
  // How many lists and maps may enclose a value.
  static constexpr int kMaxNesting = 64;

  static const StandardMethodCodec& sharedInstance();

  std::vector<std::uint8_t> encodeMethodCall(const FlutterMethodCall& call) const;
  // Absent unless `bytes` is a method name string followed by one value. A
  // name with nothing after it is accepted as a call with null arguments.
  std::optional<FlutterMethodCall> decodeMethodCall(std::span<const std::uint8_t> bytes) const;

  std::vector<std::uint8_t> encodeSuccessEnvelope(const EncodableValue& result) const;
  // Writes code, message (null when absent) and details; never a stack trace.
  std::vector<std::uint8_t> encodeErrorEnvelope(const FlutterError& error) const;
  // The bytes that answer a call: a success or error envelope, or zero bytes
  // for not implemented.
  std::vector<std::uint8_t> encodeReply(const FlutterReply& reply) const;

  // Zero bytes mean not implemented. An error envelope may carry a fourth
  // element, a stack trace string (or null), which is accepted and dropped. A
  // success flag with no value after it reads as success with null. Absent
  // when the envelope is malformed, including an error code that is not a
  // string.
  std::optional<FlutterReply> decodeEnvelope(std::span<const std::uint8_t> bytes) const;
};

}  // namespace lumivane::platform
