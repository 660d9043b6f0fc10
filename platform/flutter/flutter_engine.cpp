#include "platform/flutter/flutter_engine.h"

#include <map>
#include <string>

namespace lumivane::platform {

namespace {

// One side of the in-process pair. It knows the other side weakly, so either
// may be kept by channels after the engine is gone.
class InProcessMessenger : public BinaryMessenger {
 public:
  // Empty disconnects: later sends are answered not implemented.
  void connect(const std::shared_ptr<InProcessMessenger>& other) { other_ = other; }

  void send(const std::string& channel,
            const std::vector<std::uint8_t>& message,
            BinaryReply reply) override {
    auto other = other_.lock();
    if (!other) {
      if (reply) {
        reply({});
      }
      return;
    }
    other->deliver(channel, message, std::move(reply));
  }

  void reportRepeatedReply(const std::string& /*channel*/) override { ++repeatedReplies_; }
  int repeatedReplies() const { return repeatedReplies_; }

  void setMessageHandler(const std::string& channel, BinaryMessageHandler handler) override {
    if (handler) {
      handlers_[channel] = std::make_shared<BinaryMessageHandler>(std::move(handler));
    } else {
      handlers_.erase(channel);
    }
  }

 private:
  void deliver(const std::string& channel,
               const std::vector<std::uint8_t>& message,
               BinaryReply reply) {
    auto found = handlers_.find(channel);
    if (found == handlers_.end()) {
      if (reply) {
        reply({});
      }
      return;
    }
    // Hold the handler while it runs: it may replace or remove itself.
    std::shared_ptr<BinaryMessageHandler> handler = found->second;
    (*handler)(message, std::move(reply));
  }

  std::weak_ptr<InProcessMessenger> other_;
  std::map<std::string, std::shared_ptr<BinaryMessageHandler>> handlers_;
  int repeatedReplies_ = 0;
};

}  // namespace

FlutterEngine::FlutterEngine() {
  auto host = std::make_shared<InProcessMessenger>();
  auto interface = std::make_shared<InProcessMessenger>();
  host->connect(interface);
  interface->connect(host);
  host_ = std::move(host);
  interface_ = std::move(interface);
}

int FlutterEngine::repeatedReplyCount() const {
  return std::static_pointer_cast<InProcessMessenger>(host_)->repeatedReplies();
}

FlutterEngine::~FlutterEngine() {
  interface_running_.reset();
  // Either side may be held on by channels or a test peer; without the engine
  // nothing runs on the far side any more.
  std::static_pointer_cast<InProcessMessenger>(host_)->connect(nullptr);
  std::static_pointer_cast<InProcessMessenger>(interface_)->connect(nullptr);
}

}  // namespace lumivane::platform
