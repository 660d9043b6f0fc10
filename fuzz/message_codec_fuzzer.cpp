// The standard message codec against arbitrary bytes: decoding never crashes,
// leaks or over-allocates, and whatever decodes survives a round trip. The
// same bytes also describe a value (see anyValue), strings of arbitrary bytes
// included, which must reach the other side as what the wire can carry.
#include <cstddef>
#include <cstdint>
#include <span>

#include "fuzz/fuzz_input.h"
#include "fuzz/round_trip.h"
#include "platform/flutter/standard_codec.h"

using lumivane::fuzz::afterWire;
using lumivane::fuzz::allUtf8;
using lumivane::fuzz::anyValue;
using lumivane::fuzz::fail;
using lumivane::fuzz::Input;
using lumivane::fuzz::nesting;
using lumivane::platform::StandardMessageCodec;
using lumivane::platform::StandardMethodCodec;

namespace {

// Any value the host may hold is written so that the interface can read it.
void checkEncode(const std::uint8_t* data, std::size_t size) {
  const auto& codec = StandardMessageCodec::sharedInstance();
  Input in(data, size);
  const auto value = anyValue(in);
  auto decoded = codec.decodeMessage(codec.encodeMessage(value));
  if (!decoded) {
    fail("an encoded value does not decode");
  }
  if (!(*decoded == afterWire(value))) {
    fail("an encoded value decodes to another value");
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  checkEncode(data, size);
  const auto& codec = StandardMessageCodec::sharedInstance();
  auto value = codec.decodeMessage(std::span<const std::uint8_t>(data, size));
  if (!value) {
    return 0;
  }
  if (!allUtf8(*value)) {
    fail("a message decodes to a string that is not UTF-8");
  }
  if (nesting(*value) > StandardMethodCodec::kMaxNesting) {
    fail("a message decodes to containers nested deeper than the codec allows");
  }
  // Equality of values is bitwise for floating point (NaN equals itself), so
  // comparing values also checks that every payload bit crossed.
  auto bytes = codec.encodeMessage(*value);
  auto again = codec.decodeMessage(bytes);
  if (!again) {
    fail("an encoded message does not decode");
  }
  if (!(*again == afterWire(*value))) {
    fail("a message decodes to another value after re-encoding");
  }
  // Narrowing can reorder map keys, so the first re-encoding need not be
  // stable; from the second on the bytes are.
  auto canonical = codec.encodeMessage(*again);
  auto third = codec.decodeMessage(canonical);
  if (!third || !(*third == *again) || codec.encodeMessage(*third) != canonical) {
    fail("a canonical message does not come back byte for byte");
  }
  return 0;
}
