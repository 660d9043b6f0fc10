// The standard method codec against arbitrary bytes, read both as a method
// call and as a reply envelope: decoding never crashes, leaks or hands out
// ill-formed UTF-8, and whatever decodes survives a round trip. The same bytes
// also describe a call and an error with arbitrary names, codes and values,
// which must reach the other side as what the wire can carry.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <variant>

#include "fuzz/fuzz_input.h"
#include "fuzz/round_trip.h"
#include "platform/flutter/standard_codec.h"

namespace {

using lumivane::fuzz::afterWire;
using lumivane::fuzz::anyValue;
using lumivane::fuzz::fail;
using lumivane::fuzz::Input;
using lumivane::fuzz::repairedUtf8;
using lumivane::platform::EncodableValue;
using lumivane::platform::FlutterError;
using lumivane::platform::FlutterMethodCall;
using lumivane::platform::FlutterReply;
using lumivane::platform::StandardMethodCodec;

void checkMethodCall(std::span<const std::uint8_t> input) {
  const auto& codec = StandardMethodCodec::sharedInstance();
  auto call = codec.decodeMethodCall(input);
  if (!call) {
    return;
  }
  if (repairedUtf8(call->method()) != call->method() ||
      !lumivane::fuzz::allUtf8(call->arguments())) {
    fail("a method call decodes to a string that is not UTF-8");
  }
  auto bytes = codec.encodeMethodCall(*call);
  auto again = codec.decodeMethodCall(bytes);
  if (!again) {
    fail("an encoded method call does not decode");
  }
  if (again->method() != call->method() || !(again->arguments() == afterWire(call->arguments()))) {
    fail("a method call decodes to another call after re-encoding");
  }
  // Narrowing can reorder map keys, so the first re-encoding need not be
  // stable; from the second on the bytes are.
  auto canonical = codec.encodeMethodCall(*again);
  auto third = codec.decodeMethodCall(canonical);
  if (!third || !(*third == *again) || codec.encodeMethodCall(*third) != canonical) {
    fail("a canonical method call does not come back byte for byte");
  }
}

bool allUtf8(const FlutterReply& reply) {
  if (const auto* value = std::get_if<EncodableValue>(&reply)) {
    return lumivane::fuzz::allUtf8(*value);
  }
  if (const auto* error = std::get_if<FlutterError>(&reply)) {
    return repairedUtf8(error->code()) == error->code() &&
           (!error->message() || repairedUtf8(*error->message()) == *error->message()) &&
           lumivane::fuzz::allUtf8(error->details());
  }
  return true;
}

// The reply as it reads after one crossing of the wire.
FlutterReply replyAfterWire(const FlutterReply& reply) {
  if (const auto* value = std::get_if<EncodableValue>(&reply)) {
    return afterWire(*value);
  }
  if (const auto* error = std::get_if<FlutterError>(&reply)) {
    std::optional<std::string> message;
    if (error->message()) {
      message = repairedUtf8(*error->message());
    }
    return FlutterError(repairedUtf8(error->code()), message, afterWire(error->details()));
  }
  return reply;
}

void checkEnvelope(std::span<const std::uint8_t> input) {
  const auto& codec = StandardMethodCodec::sharedInstance();
  auto reply = codec.decodeEnvelope(input);
  if (!reply) {
    return;
  }
  if (!allUtf8(*reply)) {
    fail("a reply decodes to a string that is not UTF-8");
  }
  auto bytes = codec.encodeReply(*reply);
  auto again = codec.decodeEnvelope(bytes);
  if (!again) {
    fail("an encoded reply does not decode");
  }
  if (!(*again == replyAfterWire(*reply))) {
    fail("a reply decodes to another reply after re-encoding");
  }
  auto canonical = codec.encodeReply(*again);
  auto third = codec.decodeEnvelope(canonical);
  if (!third || !(*third == *again) || codec.encodeReply(*third) != canonical) {
    fail("a canonical reply does not come back byte for byte");
  }
}

// Any call or answer the host may send, names and codes of arbitrary bytes
// included, is written so that the interface can read it.
void checkEncode(const std::uint8_t* data, std::size_t size) {
  const auto& codec = StandardMethodCodec::sharedInstance();
  Input in(data, size);
  const FlutterMethodCall call(in.text(), anyValue(in));
  auto decodedCall = codec.decodeMethodCall(codec.encodeMethodCall(call));
  if (!decodedCall || decodedCall->method() != repairedUtf8(call.method()) ||
      !(decodedCall->arguments() == afterWire(call.arguments()))) {
    fail("an encoded method call does not decode to the call sent");
  }

  std::optional<std::string> message;
  if (in.byte() & 1) {
    message = in.text();
  }
  const FlutterError error(in.text(), message, anyValue(in));
  auto decoded = codec.decodeEnvelope(codec.encodeErrorEnvelope(error));
  if (!decoded || !(*decoded == replyAfterWire(error))) {
    fail("an encoded error does not decode to the error sent");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkEncode(data, size);
  std::span<const std::uint8_t> input(data, size);
  checkMethodCall(input);
  checkEnvelope(input);
  return 0;
}
