#pragma once

#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/encodable_value.h"
#include "platform/flutter/flutter_error.h"

namespace lumivane::platform {

// What the interface heard back from one call to the host.
struct PeerReply {
  enum class Kind {
    success,
    error,
    notImplemented,
    // The host had not answered when the call returned. The host answers
    // before its handler returns, so this means it never will.
    unanswered,
    // The host answered with bytes that are no reply envelope.
    malformed,
  };
  Kind kind = Kind::unanswered;
  EncodableValue value;  // success
  std::string code;      // error
  std::optional<std::string> message;
  EncodableValue details;
};

// One call the host made to the interface.
struct ReceivedCall {
  std::string channel;
  std::string method;
  EncodableValue arguments;
  // Whether the host asked for an answer.
  bool replyExpected = false;
};

// The interface's side of the method channels, for tests and the headless
// run: it calls the host the way the interface does, with calls encoded by
// the real codec and answers decoded from the bytes the host sent, and it
// records what the host calls on the interface. Main thread only.
class InterfacePeer {
 public:
  // Talks through `interfaceMessenger`, the engine's interface side.
  explicit InterfacePeer(std::shared_ptr<BinaryMessenger> interfaceMessenger);
  // Removes the handlers installed by listen().
  ~InterfacePeer();
  InterfacePeer(const InterfacePeer&) = delete;
  InterfacePeer& operator=(const InterfacePeer&) = delete;

  // Calls `method` on the host; absent arguments cross as null.
  PeerReply invoke(const std::string& channel,
                   const std::string& method,
                   std::optional<EncodableValue> arguments = std::nullopt);
  // Sends `bytes` as they are, to see how the host takes hostile input.
  PeerReply invokeRaw(const std::string& channel, const std::vector<std::uint8_t>& bytes);

  // Records every call the host makes on `channel` from now on. Calls that
  // want an answer get the one set with setReply, else success with null.
  void listen(const std::string& channel);
  // The answer to give the host's calls of `method` on `channel`.
  void setReply(const std::string& channel, const std::string& method, FlutterReply reply);
  // Called with each call from the host on a listened channel as it arrives,
  // after it is recorded and before it is answered, for a caller that reports
  // calls as they happen. Replaces any earlier observer; empty removes it.
  void setCallObserver(std::function<void(const ReceivedCall&)> observer);

  // Decoded calls from the host, oldest first.
  const std::vector<ReceivedCall>& receivedCalls() const;
  // Messages from the host on a listened channel that were no method call;
  // each was answered not implemented.
  int undecodableCallCount() const;
  // First answers that arrived after their invoke had returned.
  int lateReplyCount() const;
  // Answers to a call that had already been answered.
  int duplicateReplyCount() const;

 private:
  struct State {
    std::vector<ReceivedCall> received;
    std::map<std::pair<std::string, std::string>, FlutterReply> replies;
    std::function<void(const ReceivedCall&)> observer;
    int undecodable = 0;
    int late = 0;
    int duplicate = 0;
  };

  std::shared_ptr<BinaryMessenger> messenger_;
  std::shared_ptr<State> state_;
  std::vector<std::string> listened_;
};

}  // namespace lumivane::platform
