#include "platform/flutter/standard_codec.h"

#include <gtest/gtest.h>

#include <limits>
#include <random>

#include "tests/flutter/wire_bytes.h"
#include "tests/support/heap_counter.h"
#include "tests/support/printing.h"

namespace lumivane::platform::testing {
namespace {

const StandardMessageCodec& messageCodec = StandardMessageCodec::sharedInstance();
const StandardMethodCodec& methodCodec = StandardMethodCodec::sharedInstance();

Bytes repeat(std::size_t n, std::uint8_t b) {
  return Bytes(n, b);
}

// A message touching every kind, with doubles and typed lists at offsets that
// need padding, and doubles whose bits must survive exactly.
EncodableValue everyKind() {
  return EncodableList{
      EncodableValue(),
      true,
      false,
      std::int32_t{-7},
      std::int64_t{1} << 40,
      3.5,
      std::numeric_limits<double>::quiet_NaN(),
      -0.0,
      "h\xC3\xA9llo \xE2\x9C\x93 \xF0\x9D\x84\x9E",
      std::vector<std::uint8_t>{1, 2, 255},
      std::vector<std::int32_t>{-1, 2},
      std::vector<std::int64_t>{std::numeric_limits<std::int64_t>::min()},
      std::vector<double>{0.5, -std::numeric_limits<double>::infinity()},
      std::vector<float>{1.5f},
      EncodableMap{{"key", EncodableList{1, "x"}}, {std::int32_t{9}, EncodableMap{}}},
  };
}

// ---------------------------------------------------------------------------
// Exact bytes, as the interface writes and expects them.

TEST(StandardCodecWire, ScalarsAndIntegerWidthChosenByValue) {
  struct Case {
    EncodableValue value;
    Bytes expected;
  };
  const Case cases[] = {
      {EncodableValue(), bytes({0x00})},
      {true, bytes({0x01})},
      {false, bytes({0x02})},
      {std::int32_t{0x7fffffff}, bytes({0x03, 0xFF, 0xFF, 0xFF, 0x7F})},
      {std::int64_t{0x7fffffff}, bytes({0x03, 0xFF, 0xFF, 0xFF, 0x7F})},
      {std::int64_t{0x80000000}, bytes({0x04, 0x00, 0x00, 0x00, 0x80, 0x00, 0x00, 0x00, 0x00})},
      {std::int64_t{-0x80000000LL}, bytes({0x03, 0x00, 0x00, 0x00, 0x80})},
      {std::int64_t{-0x80000001LL}, bytes({0x04, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0xFF, 0xFF, 0xFF})},
      {1.0, bytes({0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F})},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(messageCodec.encodeMessage(c.value), c.expected) << ::testing::PrintToString(c.value);
  }
}

TEST(StandardCodecWire, StringSizeEscapes) {
  struct Case {
    std::size_t length;
    Bytes header;
  };
  const Case cases[] = {
      {0, bytes({0x07, 0x00})},
      {253, bytes({0x07, 0xFD})},
      {254, bytes({0x07, 0xFE, 0xFE, 0x00})},
      {65535, bytes({0x07, 0xFE, 0xFF, 0xFF})},
      {65536, bytes({0x07, 0xFF, 0x00, 0x00, 0x01, 0x00})},
  };
  for (const auto& c : cases) {
    std::string text(c.length, 'a');
    Bytes encoded = messageCodec.encodeMessage(text);
    EXPECT_EQ(encoded, c.header + repeat(c.length, 'a')) << c.length;
    EXPECT_EQ(messageCodec.decodeMessage(encoded), EncodableValue(text)) << c.length;
  }
}

TEST(StandardCodecWire, MethodCall) {
  Bytes expected = bytes({0x07, 0x06}) + ascii("resize") + bytes({0x0C, 0x02, 0x07, 0x0C}) +
                   ascii("flutter/test") + bytes({0x03, 0x03, 0x00, 0x00, 0x00});
  FlutterMethodCall call("resize", EncodableList{"flutter/test", 3});
  EXPECT_EQ(methodCodec.encodeMethodCall(call), expected);
  EXPECT_EQ(methodCodec.decodeMethodCall(expected), call);

  // Absent arguments cross as an explicit null.
  EXPECT_EQ(methodCodec.encodeMethodCall(FlutterMethodCall("m")), bytes({0x07, 0x01, 'm', 0x00}));
}

TEST(StandardCodecWire, EnvelopesAndEmptyMessages) {
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(EncodableValue()), bytes({0x00, 0x00}));
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(42), bytes({0x00, 0x03, 0x2A, 0x00, 0x00, 0x00}));
  EXPECT_EQ(methodCodec.encodeReply(FlutterMethodNotImplemented), Bytes());

  Bytes error = bytes({0x01, 0x07, 0x04}) + ascii("busy") + bytes({0x07, 0x02}) + ascii("no") +
                bytes({0x03, 0x05, 0x00, 0x00, 0x00});
  EXPECT_EQ(methodCodec.encodeErrorEnvelope(FlutterError("busy", "no", 5)), error);
  Bytes noMessage = bytes({0x01, 0x07, 0x04}) + ascii("busy") + bytes({0x00, 0x00});
  EXPECT_EQ(methodCodec.encodeErrorEnvelope(FlutterError("busy")), noMessage);

  EXPECT_EQ(messageCodec.decodeMessage(Bytes()), EncodableValue());
}

TEST(StandardCodecWire, DecodesEveryEnvelopeForm) {
  Bytes error = bytes({0x01, 0x07, 0x04}) + ascii("busy") + bytes({0x00, 0x00});
  struct Case {
    Bytes bytes;
    FlutterReply expected;
  };
  const Case cases[] = {
      {Bytes(), FlutterMethodNotImplemented},
      {bytes({0x00, 0x00}), EncodableValue()},
      {bytes({0x00}), EncodableValue()},
      {bytes({0x00, 0x03, 0x2A, 0x00, 0x00, 0x00}), EncodableValue(42)},
      {error, FlutterError("busy")},
      // A fourth element, the stack trace, as a string or null.
      {error + bytes({0x07, 0x02}) + ascii("at"), FlutterError("busy")},
      {error + bytes({0x00}), FlutterError("busy")},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(methodCodec.decodeEnvelope(c.bytes), c.expected) << ::testing::PrintToString(c.bytes);
  }
}

// Padding is counted from the start of the whole buffer, so the same value
// needs different padding depending on what precedes it.
TEST(StandardCodecWire, AlignmentCountsFromStartOfBuffer) {
  // Method name "m" and the list header take 5 bytes, the tag makes 6: two
  // zeros bring the double to offset 8.
  EXPECT_EQ(methodCodec.encodeMethodCall(FlutterMethodCall("m", EncodableList{1.0})),
            bytes({0x07, 0x01, 'm', 0x0C, 0x01, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  // In an envelope the flag byte counts too.
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(1.0),
            bytes({0x00, 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F}));
  // Typed lists pad after their size, even when empty.
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(std::vector<std::int32_t>{}),
            bytes({0x00, 0x09, 0x00, 0x00}));
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(std::vector<double>{}),
            bytes({0x00, 0x0B, 0x00, 0, 0, 0, 0, 0}));
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(std::vector<float>{2.0f}),
            bytes({0x00, 0x0E, 0x01, 0x00, 0x00, 0x00, 0x00, 0x40}));
  EXPECT_EQ(methodCodec.encodeSuccessEnvelope(std::vector<std::uint8_t>{7}),
            bytes({0x00, 0x08, 0x01, 0x07}));

  // The reader pads from the same origin: a double at offset 8 of a call.
  Bytes call = bytes({0x07, 0x02, 'm', 'm', 0x06, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xF0, 0x3F});
  EXPECT_EQ(methodCodec.decodeMethodCall(call), FlutterMethodCall("mm", 1.0));
}

TEST(StandardCodecWire, MapRepeatedKeyKeepsLastValue) {
  Bytes map =
      bytes({0x0D, 0x02, 0x07, 0x01, 'k', 0x03, 1, 0, 0, 0, 0x07, 0x01, 'k', 0x03, 2, 0, 0, 0});
  EXPECT_EQ(messageCodec.decodeMessage(map), EncodableValue(EncodableMap{{"k", 2}}));
}

TEST(StandardCodecWire, InvalidUtf8IsRepairedOnEncode) {
  // A stray byte and a truncated sequence each become one U+FFFD.
  EXPECT_EQ(messageCodec.encodeMessage(std::string("a\xFF"
                                                   "b\xE2\x82")),
            bytes({0x07, 0x08, 'a', 0xEF, 0xBF, 0xBD, 'b', 0xEF, 0xBF, 0xBD}));
}

// ---------------------------------------------------------------------------

TEST(StandardCodecRoundTrip, AtEveryAlignmentInCallsAndEnvelopes) {
  // Names of 0..8 bytes shift everything after them through every residue.
  for (std::size_t length = 0; length <= 8; ++length) {
    FlutterMethodCall call(std::string(length, 'n'), everyKind());
    EXPECT_EQ(methodCodec.decodeMethodCall(methodCodec.encodeMethodCall(call)), call) << length;

    EncodableValue padded = EncodableList{std::string(length, 'n'), everyKind()};
    EXPECT_EQ(methodCodec.decodeEnvelope(methodCodec.encodeSuccessEnvelope(padded)),
              FlutterReply(padded));
  }
  FlutterError error("code", "message", everyKind());
  EXPECT_EQ(methodCodec.decodeEnvelope(methodCodec.encodeErrorEnvelope(error)),
            FlutterReply(error));
}

// A small int64 crosses as int32, and both widths read back through asInt64.
TEST(StandardCodecRoundTrip, IntegersNarrowButKeepTheirValue) {
  auto decoded = messageCodec.decodeMessage(messageCodec.encodeMessage(std::int64_t{5}));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(std::holds_alternative<std::int32_t>(*decoded));
  EXPECT_EQ(asInt64(*decoded), 5);

  // Other senders may write small values as int64.
  decoded = messageCodec.decodeMessage(bytes({0x04, 5, 0, 0, 0, 0, 0, 0, 0}));
  ASSERT_TRUE(decoded);
  EXPECT_TRUE(std::holds_alternative<std::int64_t>(*decoded));
  EXPECT_EQ(asInt64(*decoded), 5);
  EXPECT_EQ(asInt64(5.0), std::nullopt);
}

// ---------------------------------------------------------------------------
// Untrusted input: rejected, never crashing, never allocating for sizes the
// bytes do not back.

TEST(StandardCodecHostile, EveryTruncationIsRejected) {
  Bytes message = messageCodec.encodeMessage(everyKind());
  for (std::size_t n = 1; n < message.size(); ++n) {
    Bytes prefix(message.begin(), message.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(messageCodec.decodeMessage(prefix), std::nullopt) << n;
  }

  FlutterMethodCall call("method", everyKind());
  Bytes encodedCall = methodCodec.encodeMethodCall(call);
  const std::size_t nameEnd = 8;  // Tag, size, "method".
  for (std::size_t n = 0; n < encodedCall.size(); ++n) {
    Bytes prefix(encodedCall.begin(), encodedCall.begin() + static_cast<std::ptrdiff_t>(n));
    auto decoded = methodCodec.decodeMethodCall(prefix);
    if (n == nameEnd) {
      EXPECT_EQ(decoded, FlutterMethodCall("method"));  // A call without arguments.
    } else {
      EXPECT_EQ(decoded, std::nullopt) << n;
    }
  }

  Bytes error = methodCodec.encodeErrorEnvelope(FlutterError("c", "m", everyKind()));
  for (std::size_t n = 1; n < error.size(); ++n) {
    Bytes prefix(error.begin(), error.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_EQ(methodCodec.decodeEnvelope(prefix), std::nullopt) << n;
  }
}

TEST(StandardCodecHostile, HugeDeclaredSizesAreRefusedBeforeAllocating) {
  const Bytes size32 = bytes({0xFF, 0xFF, 0xFF, 0xFF, 0x7F});
  const Bytes cases[] = {
      bytes({0x07}) + size32 + ascii("abc"),
      bytes({0x08}) + size32 + bytes({1, 2, 3}),
      bytes({0x09}) + size32 + bytes({0, 0, 0, 1, 2, 3, 4}),
      // 2^29 int64 elements: 2^32 bytes, which a 32-bit size_t would wrap.
      bytes({0x0A, 0xFF, 0x00, 0x00, 0x00, 0x20, 0, 0, 0}) + repeat(16, 0),
      bytes({0x0B}) + size32 + repeat(16, 0),
      bytes({0x0E}) + size32 + repeat(16, 0),
      bytes({0x0C}) + size32 + repeat(16, 0),
      bytes({0x0D}) + size32 + repeat(16, 0),
      // Lists nested inside each other, each claiming everything that follows:
      // reserving for each would multiply the claim by the depth.
      [] {
        Bytes nested;
        for (int i = 0; i < 60; ++i) {
          nested = nested + bytes({0x0C, 0xFE, 0x00, 0x30});
        }
        return nested + repeat(0x3F00, 0x0C);
      }(),
  };
  for (const auto& message : cases) {
    test_support::resetLargestAllocation();
    EXPECT_EQ(messageCodec.decodeMessage(message), std::nullopt) << message.size();
    EXPECT_LT(test_support::largestAllocation(), 4096u) << message.size();
  }
}

TEST(StandardCodecHostile, NestingIsBounded) {
  auto nestedLists = [](int depth) {
    Bytes out;
    for (int i = 0; i < depth; ++i) {
      out.push_back(0x0C);
      out.push_back(0x01);
    }
    out.push_back(0x00);
    return out;
  };
  const int limit = StandardMethodCodec::kMaxNesting;
  EXPECT_NE(messageCodec.decodeMessage(nestedLists(limit)), std::nullopt);
  EXPECT_EQ(messageCodec.decodeMessage(nestedLists(limit + 1)), std::nullopt);
  // Far deeper than any stack would survive without the bound.
  EXPECT_EQ(messageCodec.decodeMessage(nestedLists(200000)), std::nullopt);

  // Maps nest through their keys as well as their values.
  Bytes nestedKeys;
  for (int i = 0; i < limit + 1; ++i) {
    nestedKeys.push_back(0x0D);
    nestedKeys.push_back(0x01);
  }
  // The innermost key, then every map's value.
  nestedKeys.insert(nestedKeys.end(), limit + 2, 0x00);
  EXPECT_EQ(messageCodec.decodeMessage(nestedKeys), std::nullopt);
}

TEST(StandardCodecHostile, InvalidUtf8IsRejected) {
  const Bytes bad[] = {
      bytes({0x80}),                    // Continuation byte with no lead.
      bytes({0xC0, 0xAF}),              // Overlong "/".
      bytes({0xE0, 0x80, 0x80}),        // Overlong NUL.
      bytes({0xED, 0xA0, 0x80}),        // UTF-16 surrogate.
      bytes({0xF4, 0x90, 0x80, 0x80}),  // Past U+10FFFF.
      bytes({0xF5, 0x80, 0x80, 0x80}),  // Lead byte that never occurs.
      bytes({'o', 'k', 0xE2, 0x82}),    // Truncated at the end.
      bytes({0xE2, 0x28, 0xA1}),        // Continuation replaced by ASCII.
  };
  for (const auto& text : bad) {
    Bytes message = bytes({0x07, static_cast<int>(text.size())}) + text;
    EXPECT_EQ(messageCodec.decodeMessage(message), std::nullopt) << ::testing::PrintToString(text);
    EXPECT_EQ(methodCodec.decodeMethodCall(message + bytes({0x00})), std::nullopt);
  }
  // The longest valid forms at each boundary are accepted.
  Bytes good = bytes({0x07, 10, 0xF4, 0x8F, 0xBF, 0xBF, 0xED, 0x9F, 0xBF, 0xC2, 0x80, 0x7F});
  EXPECT_NE(messageCodec.decodeMessage(good), std::nullopt);
}

TEST(StandardCodecHostile, UnknownTagsWrongKindsAndTrailingBytesAreRejected) {
  const Bytes messages[] = {
      bytes({0x05, 0x02, 'f', 'f'}),  // Legacy big integer.
      bytes({0x0F}),
      bytes({0x80}),
      bytes({0xFF}),
      bytes({0x0C, 0x01, 0x10}),
      bytes({0x00, 0x00}),
      bytes({0x03, 1, 0, 0, 0, 0}),
  };
  for (const auto& message : messages) {
    EXPECT_EQ(messageCodec.decodeMessage(message), std::nullopt)
        << ::testing::PrintToString(message);
  }

  const Bytes calls[] = {
      bytes({}),
      bytes({0x03, 1, 0, 0, 0, 0x00}),  // The method name is an integer.
      methodCodec.encodeMethodCall(FlutterMethodCall("m", 1)) + bytes({0x00}),
  };
  for (const auto& call : calls) {
    EXPECT_EQ(methodCodec.decodeMethodCall(call), std::nullopt) << ::testing::PrintToString(call);
  }

  const Bytes envelopes[] = {
      bytes({0x02, 0x00}),                                     // Unknown flag.
      bytes({0x01, 0x03, 1, 0, 0, 0, 0x00, 0x00}),             // Code is an integer.
      bytes({0x01, 0x07, 0x01, 'c', 0x03, 1, 0, 0, 0, 0x00}),  // Message is an integer.
      bytes({0x01, 0x07, 0x01, 'c', 0x00, 0x00, 0x01}),        // Stack trace is a bool.
      methodCodec.encodeSuccessEnvelope(1) + bytes({0x00}),
      methodCodec.encodeErrorEnvelope(FlutterError("c")) + bytes({0x00, 0x00}),
  };
  for (const auto& envelope : envelopes) {
    EXPECT_EQ(methodCodec.decodeEnvelope(envelope), std::nullopt)
        << ::testing::PrintToString(envelope);
  }
}

// Random corruption of a valid message: whatever comes of it, decoding ends
// without a fault (the sanitizer build checks every read) and allocates in
// proportion to the input.
TEST(StandardCodecHostile, RandomCorruptionNeverFaults) {
  const Bytes original = methodCodec.encodeMethodCall(FlutterMethodCall("call", everyKind()));
  std::mt19937 random(1234);
  for (int round = 0; round < 20000; ++round) {
    Bytes message = original;
    int edits = 1 + static_cast<int>(random() % 4);
    for (int e = 0; e < edits; ++e) {
      message[random() % message.size()] = static_cast<std::uint8_t>(random());
    }
    if (random() % 4 == 0) {
      message.resize(random() % message.size());
    }
    test_support::resetLargestAllocation();
    auto call = methodCodec.decodeMethodCall(message);
    auto reply = methodCodec.decodeEnvelope(message);
    auto value = messageCodec.decodeMessage(message);
    ASSERT_LT(test_support::largestAllocation(), 4096u) << round;
    if (value) {
      // Anything accepted re-encodes to something accepted.
      EXPECT_NE(messageCodec.decodeMessage(messageCodec.encodeMessage(*value)), std::nullopt);
    }
  }
}

}  // namespace
}  // namespace lumivane::platform::testing
