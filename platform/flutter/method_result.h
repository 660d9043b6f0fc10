#pragma once

#include <functional>
#include <memory>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/flutter_error.h"

namespace lumivane::platform {

// The answer to one incoming method call (FlutterResult). Copies share one
// answer: the first call encodes the reply and sends it back; every later call
// is ignored, so the interface hears exactly one answer however the handler's
// paths go. A handler may keep a copy and answer later. Main thread only.
class FlutterResult {
 public:
  // A result whose answers go nowhere: the caller wanted none.
  FlutterResult();
  // Answers through `reply`; empty means the caller wanted no answer.
  // `onRepeatedAnswer` is told of every answer after the first.
  explicit FlutterResult(BinaryReply reply, std::function<void()> onRepeatedAnswer = {});

  // Answers with a success value, a FlutterError or FlutterMethodNotImplemented.
  void operator()(const FlutterReply& reply) const;

  // Whether an answer has been given.
  bool answered() const;
  // How many times an answer was attempted, ignored ones included; more than
  // one means some path answered twice.
  int answerCount() const;

 private:
  struct State {
    BinaryReply reply;
    std::function<void()> onRepeatedAnswer;
    int attempts = 0;
  };
  std::shared_ptr<State> state_;
};

}  // namespace lumivane::platform
