#pragma once

#include <memory>

#include "platform/flutter/binary_messenger.h"

namespace lumivane::platform {

// The interface while it runs inside an engine: whatever draws into the
// controller's view and talks to the host through the interface's side of
// the engine's messenger. It ends with the engine.
class RunningInterface {
 public:
  virtual ~RunningInterface() = default;
};

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

  // The interface running in this engine, from now until the engine goes.
  // It goes first, while both sides of the messenger are still connected.
  void runInterface(std::unique_ptr<RunningInterface> interface) {
    interface_running_ = std::move(interface);
  }

 private:
  std::shared_ptr<BinaryMessenger> host_;
  std::shared_ptr<BinaryMessenger> interface_;
  std::unique_ptr<RunningInterface> interface_running_;
};

}  // namespace lumivane::platform
