#pragma once

#include <memory>
#include <ostream>
#include <thread>

#include "platform/desktop.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/flutter_engine.h"

namespace lumivane::headless {

// The interface's side of the host's two channels on a text console, for a
// host on a real desktop before its own interface can run in the panel, and
// for the programs that test it.
//
// Statements come in a line each on `input` (a file descriptor), as in a
// scenario: `call selection|system METHOD [JSON]`, `wait SECONDS` (real
// seconds, during which later lines wait while the host goes on), `show
// pasteboard`, and `quit` (the application terminates, as from its menu).
// Events go out as JSON lines on `out`, each with "t" (seconds since the
// interface started) and "event": "launched" once start-up has finished,
// "step" before each statement, "reply" for each call's answer,
// "updateSelection" and "call" for the host's calls to the interface,
// "pasteboard" for `show pasteboard`, and "error" for a line that is not a
// statement it runs (the line is skipped; the console goes on). The end of
// the input ends nothing: the host lives on until it is told to quit.
//
// Lines are read on a thread of the console's own and run on the host's main
// thread, through the main queue; everything else happens on the main thread.
class ConsoleInterface final : public platform::RunningInterface {
 public:
  // `desktop` must outlive the interface; `input` stays open for as long as
  // it reads and is not closed by it.
  ConsoleInterface(platform::Desktop& desktop,
                   std::shared_ptr<platform::BinaryMessenger> interfaceMessenger,
                   int input,
                   std::ostream& out);
  ~ConsoleInterface() override;
  ConsoleInterface(const ConsoleInterface&) = delete;
  ConsoleInterface& operator=(const ConsoleInterface&) = delete;

 private:
  struct State;
  void readLines(int input, int wake);

  std::shared_ptr<State> state_;
  int wakeRead_ = -1;
  int wakeWrite_ = -1;
  std::thread reader_;
};

}  // namespace lumivane::headless
