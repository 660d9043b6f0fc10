#include "platform/flutter/method_channel.h"

#include "platform/flutter/standard_codec.h"

namespace lumivane::platform {

std::shared_ptr<FlutterMethodChannel> FlutterMethodChannel::methodChannelWithName(
    const std::string& name,
    std::shared_ptr<BinaryMessenger> messenger) {
  return std::make_shared<FlutterMethodChannel>(name, std::move(messenger));
}

FlutterMethodChannel::FlutterMethodChannel(std::string name,
                                           std::shared_ptr<BinaryMessenger> messenger)
    : name_(std::move(name)), messenger_(std::move(messenger)) {}

void FlutterMethodChannel::setMethodCallHandler(FlutterMethodCallHandler handler) {
  if (!handler) {
    messenger_->setMessageHandler(name_, nullptr);
    return;
  }
  std::weak_ptr<BinaryMessenger> messenger = messenger_;
  messenger_->setMessageHandler(
      name_, [handler = std::move(handler), messenger, name = name_](
                 const std::vector<std::uint8_t>& message, BinaryReply reply) {
        auto call = StandardMethodCodec::sharedInstance().decodeMethodCall(message);
        if (!call) {
          // What the interface would hear for a method nobody implements: it
          // never learns more about our parsing than that.
          if (reply) {
            reply({});
          }
          return;
        }
        handler(*call, FlutterResult(std::move(reply), [messenger, name] {
          if (auto m = messenger.lock())
            m->reportRepeatedReply(name);
        }));
      });
}

void FlutterMethodChannel::invokeMethod(const std::string& method,
                                        const EncodableValue& arguments) const {
  messenger_->send(
      name_,
      StandardMethodCodec::sharedInstance().encodeMethodCall(FlutterMethodCall(method, arguments)),
      nullptr);
}

void FlutterMethodChannel::invokeMethod(const std::string& method,
                                        const EncodableValue& arguments,
                                        FlutterReplyCallback callback) const {
  BinaryReply reply;
  if (callback) {
    reply = [callback = std::move(callback)](const std::vector<std::uint8_t>& bytes) {
      auto decoded = StandardMethodCodec::sharedInstance().decodeEnvelope(bytes);
      if (!decoded) {
        callback(FlutterError("malformed-reply", "The reply could not be decoded."));
        return;
      }
      callback(*decoded);
    };
  }
  messenger_->send(
      name_,
      StandardMethodCodec::sharedInstance().encodeMethodCall(FlutterMethodCall(method, arguments)),
      std::move(reply));
}

}  // namespace lumivane::platform
