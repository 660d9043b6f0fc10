#include "platform/flutter/method_result.h"

#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {

FlutterResult::FlutterResult() : FlutterResult(BinaryReply()) {}

FlutterResult::FlutterResult(BinaryReply reply, std::function<void()> onRepeatedAnswer)
    : state_(std::make_shared<State>()) {
  state_->reply = std::move(reply);
  state_->onRepeatedAnswer = std::move(onRepeatedAnswer);
}

void FlutterResult::operator()(const FlutterReply& reply) const {
  if (state_->attempts++ > 0) {
    if (state_->onRepeatedAnswer)
      state_->onRepeatedAnswer();
    return;
  }
  // Release the callback once used: it may hold the caller's state alive.
  BinaryReply send = std::move(state_->reply);
  state_->reply = nullptr;
  if (send) {
    send(StandardMethodCodec::sharedInstance().encodeReply(reply));
  }
}

bool FlutterResult::answered() const {
  return state_->attempts > 0;
}

int FlutterResult::answerCount() const {
  return state_->attempts;
}

}  // namespace lumivane::platform
