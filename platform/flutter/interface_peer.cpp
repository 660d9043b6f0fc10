#include "platform/flutter/interface_peer.h"

#include <algorithm>

#include "platform/flutter/method_call.h"
#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {

namespace {

PeerReply toPeerReply(const std::vector<std::uint8_t>& bytes) {
  PeerReply out;
  auto decoded = StandardMethodCodec::sharedInstance().decodeEnvelope(bytes);
  if (!decoded) {
    out.kind = PeerReply::Kind::malformed;
  } else if (auto* value = std::get_if<EncodableValue>(&*decoded)) {
    out.kind = PeerReply::Kind::success;
    out.value = std::move(*value);
  } else if (auto* error = std::get_if<FlutterError>(&*decoded)) {
    out.kind = PeerReply::Kind::error;
    out.code = error->code();
    out.message = error->message();
    out.details = error->details();
  } else {
    out.kind = PeerReply::Kind::notImplemented;
  }
  return out;
}

}  // namespace

InterfacePeer::InterfacePeer(std::shared_ptr<BinaryMessenger> interfaceMessenger)
    : messenger_(std::move(interfaceMessenger)), state_(std::make_shared<State>()) {}

InterfacePeer::~InterfacePeer() {
  for (const auto& channel : listened_) {
    messenger_->setMessageHandler(channel, nullptr);
  }
}

PeerReply InterfacePeer::invoke(const std::string& channel,
                                const std::string& method,
                                std::optional<EncodableValue> arguments) {
  return invokeRaw(channel,
                   StandardMethodCodec::sharedInstance().encodeMethodCall(
                       FlutterMethodCall(method, std::move(arguments).value_or(EncodableValue()))));
}

PeerReply InterfacePeer::invokeRaw(const std::string& channel,
                                   const std::vector<std::uint8_t>& bytes) {
  // Shared with the reply callback, which the host may keep past this call.
  struct Pending {
    bool returned = false;
    std::optional<std::vector<std::uint8_t>> reply;
  };
  auto pending = std::make_shared<Pending>();
  std::weak_ptr<State> state = state_;
  messenger_->send(channel, bytes, [pending, state](const std::vector<std::uint8_t>& reply) {
    auto counters = state.lock();
    if (pending->reply) {
      if (counters) {
        ++counters->duplicate;
      }
      return;
    }
    pending->reply = reply;
    if (pending->returned && counters) {
      ++counters->late;
    }
  });
  pending->returned = true;
  if (!pending->reply) {
    return PeerReply{};
  }
  return toPeerReply(*pending->reply);
}

void InterfacePeer::listen(const std::string& channel) {
  if (std::find(listened_.begin(), listened_.end(), channel) == listened_.end()) {
    listened_.push_back(channel);
  }
  std::weak_ptr<State> weakState = state_;
  messenger_->setMessageHandler(
      channel,
      [weakState, channel](const std::vector<std::uint8_t>& message, const BinaryReply& reply) {
        const auto& codec = StandardMethodCodec::sharedInstance();
        auto state = weakState.lock();
        auto call = codec.decodeMethodCall(message);
        if (!state || !call) {
          if (state) {
            ++state->undecodable;
          }
          if (reply) {
            reply({});
          }
          return;
        }
        state->received.push_back(
            ReceivedCall{channel, call->method(), call->arguments(), static_cast<bool>(reply)});
        if (state->observer) {
          // Copies: the observer may call the host, which may call back and
          // grow the record, or replace the observer.
          const ReceivedCall received = state->received.back();
          const auto observer = state->observer;
          observer(received);
        }
        if (reply) {
          auto configured = state->replies.find({channel, call->method()});
          reply(configured != state->replies.end() ? codec.encodeReply(configured->second)
                                                   : codec.encodeSuccessEnvelope(EncodableValue()));
        }
      });
}

void InterfacePeer::setReply(const std::string& channel,
                             const std::string& method,
                             FlutterReply reply) {
  state_->replies.insert_or_assign({channel, method}, std::move(reply));
}

void InterfacePeer::setCallObserver(std::function<void(const ReceivedCall&)> observer) {
  state_->observer = std::move(observer);
}

const std::vector<ReceivedCall>& InterfacePeer::receivedCalls() const {
  return state_->received;
}

int InterfacePeer::undecodableCallCount() const {
  return state_->undecodable;
}

int InterfacePeer::lateReplyCount() const {
  return state_->late;
}

int InterfacePeer::duplicateReplyCount() const {
  return state_->duplicate;
}

}  // namespace lumivane::platform
