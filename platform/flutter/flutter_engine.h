#pragma once

#include <memory>

#include "platform/flutter/binary_messenger.h"

namespace lumivane::platform {

// The engine that runs the interface (FlutterEngine). This one runs it in
// process: it owns a connected pair of messengers, the host's and the
// interface's. A message sent on one side reaches the handler registered for
// its channel on the other side, synchronously, on the calling (main) thread;
// a side with no handler for the channel answers zero bytes (not implemented)
// when an answer was wanted. Everything crosses as encoded bytes. Main thread
// only.
class FlutterEngine {
 public:
  FlutterEngine();
  ~FlutterEngine();
  FlutterEngine(const FlutterEngine&) = delete;
  FlutterEngine& operator=(const FlutterEngine&) = delete;

  // The host's side (binaryMessenger). Never absent. Either side may be held
  // past the engine's life; what is sent then is answered not implemented.
  std::shared_ptr<BinaryMessenger> binaryMessenger() const { return host_; }

  // The interface's side, where the interface (or a test standing in for it)
  // sends calls to the host and handles calls from it. Never absent.
  std::shared_ptr<BinaryMessenger> interfaceMessenger() const { return interface_; }

  // Answers the host's handlers gave to calls they had already answered. The
  // engine drops them (the interface hears one answer per call); a handler
  // that answers twice has a fault.
  int repeatedReplyCount() const;

 private:
  std::shared_ptr<BinaryMessenger> host_;
  std::shared_ptr<BinaryMessenger> interface_;
};

}  // namespace lumivane::platform
