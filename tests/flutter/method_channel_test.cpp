#include "platform/flutter/method_channel.h"

#include <gtest/gtest.h>

#include <optional>

#include "platform/flutter/flutter_engine.h"
#include "platform/flutter/interface_peer.h"
#include "platform/flutter/standard_codec.h"
#include "tests/support/printing.h"

namespace lumivane::platform::testing {
namespace {

constexpr const char* kChannel = "com.lumivane.test/channel";

// The host's end of one channel, with the interface's end as a peer.
class MethodChannelTest : public ::testing::Test {
 protected:
  std::optional<FlutterEngine> engine{std::in_place};
  std::shared_ptr<FlutterMethodChannel> channel =
      FlutterMethodChannel::methodChannelWithName(kChannel, engine->binaryMessenger());
  InterfacePeer peer{engine->interfaceMessenger()};
};

TEST_F(MethodChannelTest, EachKindOfAnswerReachesTheInterface) {
  channel->setMethodCallHandler([](const FlutterMethodCall& call, const FlutterResult& result) {
    if (call.method() == "echo") {
      result(call.arguments());
    } else if (call.method() == "fail") {
      result(FlutterError("busy", "try later", EncodableMap{{"retry", 3}}));
    } else {
      result(FlutterMethodNotImplemented);
    }
  });

  EncodableValue arguments = EncodableMap{{"text", "hello"}, {"at", 1.5}};
  PeerReply echo = peer.invoke(kChannel, "echo", arguments);
  EXPECT_EQ(echo.kind, PeerReply::Kind::success);
  EXPECT_EQ(echo.value, arguments);

  PeerReply fail = peer.invoke(kChannel, "fail");
  EXPECT_EQ(fail.kind, PeerReply::Kind::error);
  EXPECT_EQ(fail.code, "busy");
  EXPECT_EQ(fail.message, "try later");
  EXPECT_EQ(fail.details, EncodableValue(EncodableMap{{"retry", 3}}));

  EXPECT_EQ(peer.invoke(kChannel, "other").kind, PeerReply::Kind::notImplemented);
}

// Bytes that are no method call never reach the handler; the interface hears
// what it would for an unknown method.
TEST_F(MethodChannelTest, UndecodableCallIsNotImplemented) {
  int calls = 0;
  channel->setMethodCallHandler([&](const FlutterMethodCall&, const FlutterResult& result) {
    ++calls;
    result(EncodableValue());
  });
  const std::vector<std::uint8_t> hostile[] = {
      {},
      {0x03, 0x01, 0x00, 0x00, 0x00, 0x00},  // The name is an integer.
      {0x07, 0x05, 'a', 'b'},                // Truncated name.
      {0x07, 0x01, 'm', 0x00, 0x00},         // Trailing byte.
      {0x07, 0x01, 'm', 0x07, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF},
  };
  for (const auto& bytes : hostile) {
    EXPECT_EQ(peer.invokeRaw(kChannel, bytes).kind, PeerReply::Kind::notImplemented);
  }
  EXPECT_EQ(calls, 0);
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::success);
}

TEST_F(MethodChannelTest, WithoutHandlerCallsAreNotImplemented) {
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::notImplemented);
  channel->setMethodCallHandler(
      [](const FlutterMethodCall&, const FlutterResult& result) { result(EncodableValue()); });
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::success);
  channel->setMethodCallHandler(nullptr);
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::notImplemented);
}

TEST_F(MethodChannelTest, ResultAnswersExactlyOnceAcrossCopies) {
  std::optional<FlutterResult> kept;
  channel->setMethodCallHandler([&](const FlutterMethodCall&, const FlutterResult& result) {
    kept = result;
    FlutterResult copy = result;  // NOLINT(performance-unnecessary-copy-initialization)
    EXPECT_FALSE(result.answered());
    copy(EncodableValue("first"));
    result(FlutterError("second"));
    copy(FlutterMethodNotImplemented);
  });
  PeerReply reply = peer.invoke(kChannel, "m");
  EXPECT_EQ(reply.kind, PeerReply::Kind::success);
  EXPECT_EQ(reply.value, EncodableValue("first"));
  EXPECT_EQ(peer.duplicateReplyCount(), 0);
  ASSERT_TRUE(kept);
  EXPECT_TRUE(kept->answered());
  EXPECT_EQ(kept->answerCount(), 3);
  // The engine tells of the two dropped answers: a handler at fault.
  EXPECT_EQ(engine->repeatedReplyCount(), 2);
}

TEST_F(MethodChannelTest, InterfaceSeesMissingLateAndDuplicateAnswers) {
  std::optional<FlutterResult> kept;
  channel->setMethodCallHandler(
      [&](const FlutterMethodCall&, const FlutterResult& result) { kept = result; });
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::unanswered);
  ASSERT_TRUE(kept);
  (*kept)(EncodableValue(1));
  EXPECT_EQ(peer.lateReplyCount(), 1);

  // A raw handler, bypassing FlutterResult, answering twice.
  engine->binaryMessenger()->setMessageHandler(
      kChannel, [](const std::vector<std::uint8_t>&, const BinaryReply& reply) {
        reply(StandardMethodCodec::sharedInstance().encodeSuccessEnvelope(1));
        reply(StandardMethodCodec::sharedInstance().encodeSuccessEnvelope(2));
      });
  EXPECT_EQ(peer.invoke(kChannel, "m").value, EncodableValue(1));
  EXPECT_EQ(peer.duplicateReplyCount(), 1);
}

TEST_F(MethodChannelTest, HandlerMayRemoveItselfWhileRunning) {
  channel->setMethodCallHandler([this](const FlutterMethodCall&, const FlutterResult& result) {
    channel->setMethodCallHandler(nullptr);
    result(EncodableValue("still here"));
  });
  EXPECT_EQ(peer.invoke(kChannel, "m").value, EncodableValue("still here"));
  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::notImplemented);
}

TEST_F(MethodChannelTest, InterfaceRecordsCallsFromTheHost) {
  std::optional<FlutterReply> answer;
  auto keepAnswer = [&](const FlutterReply& r) { answer = r; };
  channel->invokeMethod("ask", EncodableValue(), keepAnswer);
  EXPECT_EQ(answer, FlutterReply(FlutterMethodNotImplemented));  // Not listening yet.

  peer.listen(kChannel);
  channel->invokeMethod("updateSelection", EncodableMap{{"text", "abc"}});
  peer.setReply(kChannel, "ask", FlutterError("nope"));
  channel->invokeMethod("ask", EncodableValue(), keepAnswer);
  EXPECT_EQ(answer, FlutterReply(FlutterError("nope")));

  ASSERT_EQ(peer.receivedCalls().size(), 2u);
  const ReceivedCall& update = peer.receivedCalls()[0];
  EXPECT_EQ(update.channel, kChannel);
  EXPECT_EQ(update.method, "updateSelection");
  EXPECT_EQ(update.arguments, EncodableValue(EncodableMap{{"text", "abc"}}));
  EXPECT_FALSE(update.replyExpected);
  EXPECT_TRUE(peer.receivedCalls()[1].replyExpected);

  // Bytes from the host that are no call are counted, not recorded.
  std::optional<std::vector<std::uint8_t>> raw;
  engine->binaryMessenger()->send(kChannel, {0x05, 0x00},
                                  [&](const std::vector<std::uint8_t>& r) { raw = r; });
  EXPECT_EQ(peer.undecodableCallCount(), 1);
  EXPECT_EQ(peer.receivedCalls().size(), 2u);
  EXPECT_EQ(raw, std::vector<std::uint8_t>());
}

TEST_F(MethodChannelTest, MalformedAnswerToTheHostBecomesAnError) {
  engine->interfaceMessenger()->setMessageHandler(
      kChannel, [](const std::vector<std::uint8_t>&, const BinaryReply& reply) {
        reply({0x00, 0x03, 0x01});  // Truncated success envelope.
      });
  std::optional<FlutterReply> answer;
  channel->invokeMethod("ask", EncodableValue(), [&](const FlutterReply& r) { answer = r; });
  ASSERT_TRUE(answer && std::holds_alternative<FlutterError>(*answer));
  EXPECT_EQ(std::get<FlutterError>(*answer).code(), "malformed-reply");
}

// Channels and peers may hold their messengers past the engine's life.
TEST_F(MethodChannelTest, AfterTheEngineIsGoneCallsAreNotImplemented) {
  channel->setMethodCallHandler(
      [](const FlutterMethodCall&, const FlutterResult& result) { result(EncodableValue()); });
  peer.listen(kChannel);
  engine.reset();

  EXPECT_EQ(peer.invoke(kChannel, "m").kind, PeerReply::Kind::notImplemented);
  std::optional<FlutterReply> answer;
  channel->invokeMethod("ask", EncodableValue(), [&](const FlutterReply& r) { answer = r; });
  EXPECT_EQ(answer, FlutterReply(FlutterMethodNotImplemented));
  EXPECT_TRUE(peer.receivedCalls().empty());
}

}  // namespace
}  // namespace lumivane::platform::testing
