#pragma once

#include <cstddef>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "headless/event_log.h"
#include "headless/scenario.h"
#include "platform/flutter/interface_peer.h"
#include "platform/sim/sim_desktop.h"

namespace lumivane::headless {

// Runs a scenario against the host on a simulated desktop and reports what
// happens, as it happens, to an event log.
//
// The statements before the first one that needs the host (see needsHost) set
// the desktop up before it starts. Then the host starts as the process entry
// starts it, through NSApplicationMain, and the remaining statements run as
// the application's run loop, with the interface's side of the channels
// attached. After each statement the work it made due at once runs, so its
// consequences are reported before the next statement. The run ends after the
// last statement, when no more time passes, or as soon as the application
// quits; the pasteboard is reported as the run leaves it. Main thread only.
class Session {
 public:
  // Both must outlive the session. The desktop must be fresh: one session
  // each.
  Session(platform::sim::SimDesktop& desktop, EventLog& log);
  ~Session();
  Session(const Session&) = delete;
  Session& operator=(const Session&) = delete;

  // Returns the application's exit status.
  int run(const std::vector<Statement>& statements);

 private:
  void runLoop(const std::vector<Statement>& statements, std::size_t next);
  void attachInterface();
  void execute(const Statement& statement);
  void perform(const StatementAction& action);
  void call(const CallStatement& call);

  void onTrace(const platform::sim::TraceEvent& event);
  void onInterfaceCall(const platform::ReceivedCall& call);
  void report(double time,
              std::string name,
              nlohmann::ordered_json fields = nlohmann::ordered_json::object(),
              nlohmann::ordered_json context = nlohmann::ordered_json::object());
  void reportPasteboard();
  // What the host would find listed: absent while the pasteboard lists none.
  std::optional<std::vector<platform::sim::SimPasteboardItemContents>> pasteboardItems() const;
  // {"holds": a description of the pasteboard's start} for a readable line
  // about a change to it.
  nlohmann::ordered_json pasteboardHoldsContext() const;
  std::string processName(platform::pid_t pid) const;

  platform::sim::SimDesktop& desktop_;
  EventLog& log_;
  std::map<std::string, std::shared_ptr<platform::sim::SimRunningApplication>> apps_;
  // Windows the host made as panels: the floating panel's showing and hiding
  // are what the user sees of it.
  std::set<std::string> panels_;
  std::unique_ptr<platform::InterfacePeer> peer_;
  // Set once the final pasteboard is reported: what the process does while
  // it ends is not part of the session.
  bool finished_ = false;
};

}  // namespace lumivane::headless
