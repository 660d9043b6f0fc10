#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumivane::platform {

// Answers one message with the encoded reply; zero bytes mean "not
// implemented".
using BinaryReply = std::function<void(const std::vector<std::uint8_t>& reply)>;

// Handles one message arriving on a channel. `reply` is empty when the sender
// wants no answer; otherwise it must be called exactly once, now or later.
using BinaryMessageHandler =
    std::function<void(const std::vector<std::uint8_t>& message, BinaryReply reply)>;

// Sends encoded messages to the other side of the embedding and routes
// messages arriving from it to per-channel handlers (FlutterBinaryMessenger).
class BinaryMessenger {
 public:
  virtual ~BinaryMessenger() = default;

  // Main thread. Delivers a copy of `message` on `channel`; `reply` (empty: no
  // answer wanted) is kept until the other side answers and is called at most
  // once, on the main thread. A channel nobody handles answers zero bytes.
  virtual void send(const std::string& channel,
                    const std::vector<std::uint8_t>& message,
                    BinaryReply reply) = 0;

  // Main thread. The messenger owns `handler` and keeps it until it is
  // replaced; an empty handler removes the channel's. Capture owners weakly.
  virtual void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) = 0;

  // A handler on this side answered a message it had already answered on
  // `channel`; the extra answer was dropped. Engines report it as an error of
  // the handler's; the default ignores it.
  virtual void reportRepeatedReply(const std::string& /*channel*/) {}
};

}  // namespace lumivane::platform
