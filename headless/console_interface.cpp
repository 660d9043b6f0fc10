#include "headless/console_interface.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <deque>
#include <optional>
#include <string>
#include <utility>

#include "bridge/channel_handlers.h"
#include "headless/event_log.h"
#include "headless/interface_events.h"
#include "headless/scenario.h"
#include "platform/flutter/interface_peer.h"

namespace lumivane::headless {
namespace {

using Json = nlohmann::ordered_json;

// A line longer than this is no statement anyone typed; it is reported and
// skipped rather than kept in memory.
constexpr std::size_t kMaxLineBytes = 16 * 1024 * 1024;

template <class... Ts>
struct Overloaded : Ts... {
  using Ts::operator()...;
};
template <class... Ts>
Overloaded(Ts...) -> Overloaded<Ts...>;

std::string trimmed(const std::string& line) {
  const auto first = line.find_first_not_of(" \t\r");
  if (first == std::string::npos)
    return {};
  const auto last = line.find_last_not_of(" \t\r");
  return line.substr(first, last - first + 1);
}

}  // namespace

// What the main thread works on: the peer, the lines waiting their turn, and
// whether a `wait` holds them back. Blocks on the main queue hold it weakly,
// so a line that arrives as the interface goes finds nothing to run.
struct ConsoleInterface::State : std::enable_shared_from_this<State> {
  State(platform::Desktop& desktop,
        std::shared_ptr<platform::BinaryMessenger> messenger,
        std::ostream& out)
      : desktop(desktop), peer(std::move(messenger)), out(out) {}

  void emit(std::string name, Json fields = Json::object()) {
    const double t =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    out << jsonLine(LogEvent{t, std::move(name), std::move(fields)}) << '\n';
    out.flush();
  }

  // A line, or absent for one too long to keep.
  void arrived(std::optional<std::string> line) {
    pending.push_back(std::move(line));
    drain();
  }

  // Runs the waiting lines in order until one of them waits.
  void drain() {
    while (!waiting && !pending.empty()) {
      std::optional<std::string> line = std::move(pending.front());
      pending.pop_front();
      if (line) {
        run(*line);
      } else {
        ++lineNumber;
        emit("error", {{"line", lineNumber}, {"message", "the line is longer than 16 MiB"}});
      }
    }
  }

  void run(const std::string& raw) {
    ++lineNumber;
    const std::string line = trimmed(raw);
    if (line.empty() || line[0] == '#')
      return;
    if (line == "quit") {
      emit("step", {{"line", lineNumber}, {"statement", line}});
      desktop.application().terminate();
      return;
    }
    ScenarioReading reading = readScenario(line);
    if (reading.error) {
      emit("error", {{"line", lineNumber}, {"message", reading.error->message}});
      return;
    }
    for (const auto& statement : reading.statements) {
      emit("step", {{"line", lineNumber}, {"statement", statement.text}});
      perform(statement.action);
    }
  }

  void perform(const StatementAction& action) {
    std::visit(
        Overloaded{
            [&](const CallStatement& call) {
              auto reply = peer.invoke(channelId(call.channel), call.method, call.arguments);
              emit("reply", replyFields(call.channel, call.method, reply));
            },
            [&](const WaitStatement& wait) {
              waiting = true;
              std::weak_ptr<State> weak = weak_from_this();
              desktop.dispatch().mainQueue().asyncAfter(wait.seconds, [weak] {
                if (auto self = weak.lock()) {
                  self->waiting = false;
                  self->drain();
                }
              });
            },
            [&](const ShowPasteboardStatement&) {
              emit("pasteboard", {{"items", pasteboardItemsJson(desktop.generalPasteboard())}});
            },
            [&](const auto&) {
              emit("error", {{"line", lineNumber},
                             {"message",
                              "on a real desktop the console runs only call, wait, show "
                              "pasteboard and quit; the rest is the user's to do"}});
            },
        },
        action);
  }

  platform::Desktop& desktop;
  platform::InterfacePeer peer;
  std::ostream& out;
  const std::chrono::steady_clock::time_point started = std::chrono::steady_clock::now();
  std::deque<std::optional<std::string>> pending;
  bool waiting = false;
  int lineNumber = 0;
};

ConsoleInterface::ConsoleInterface(platform::Desktop& desktop,
                                   std::shared_ptr<platform::BinaryMessenger> interfaceMessenger,
                                   int input,
                                   std::ostream& out)
    : state_(std::make_shared<State>(desktop, std::move(interfaceMessenger), out)) {
  state_->peer.listen(kSelectionChannelName);
  state_->peer.listen(kSystemChannelName);
  std::weak_ptr<State> weak = state_;
  state_->peer.setCallObserver([weak](const platform::ReceivedCall& call) {
    if (auto self = weak.lock()) {
      auto [name, fields] = interfaceCallEvent(call);
      self->emit(std::move(name), std::move(fields));
    }
  });
  // The engine starts during start-up; this runs once start-up has finished.
  desktop.dispatch().mainQueue().async([weak] {
    if (auto self = weak.lock())
      self->emit("launched");
  });

  int wake[2];
  if (::pipe2(wake, O_CLOEXEC) == 0) {
    wakeRead_ = wake[0];
    wakeWrite_ = wake[1];
    reader_ = std::thread([this, input] { readLines(input, wakeRead_); });
  }
}

ConsoleInterface::~ConsoleInterface() {
  if (reader_.joinable()) {
    const char stop = 0;
    [[maybe_unused]] const auto written = ::write(wakeWrite_, &stop, 1);
    reader_.join();
  }
  if (wakeRead_ >= 0)
    ::close(wakeRead_);
  if (wakeWrite_ >= 0)
    ::close(wakeWrite_);
}

void ConsoleInterface::readLines(int input, int wake) {
  std::weak_ptr<State> weak = state_;
  auto& mainQueue = state_->desktop.dispatch().mainQueue();
  const auto deliver = [&](std::optional<std::string> line) {
    mainQueue.async([weak, line = std::move(line)]() mutable {
      if (auto self = weak.lock())
        self->arrived(std::move(line));
    });
  };
  std::string partial;
  bool skipping = false;
  char buffer[65536];
  for (;;) {
    pollfd fds[2] = {{input, POLLIN, 0}, {wake, POLLIN, 0}};
    if (::poll(fds, 2, -1) < 0) {
      if (errno == EINTR)
        continue;
      return;
    }
    if (fds[1].revents)
      return;
    const ssize_t n = ::read(input, buffer, sizeof buffer);
    if (n < 0 && (errno == EINTR || errno == EAGAIN))
      continue;
    if (n <= 0)
      break;
    for (ssize_t i = 0; i < n; ++i) {
      if (buffer[i] == '\n') {
        deliver(skipping ? std::nullopt : std::optional<std::string>(std::move(partial)));
        partial.clear();
        skipping = false;
      } else if (!skipping) {
        partial.push_back(buffer[i]);
        if (partial.size() > kMaxLineBytes) {
          skipping = true;
          partial.clear();
          partial.shrink_to_fit();
        }
      }
    }
  }
  if (!partial.empty() && !skipping)
    deliver(std::move(partial));
}

}  // namespace lumivane::headless
