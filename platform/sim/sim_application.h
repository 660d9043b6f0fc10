#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/application.h"
#include "platform/sim/sim_common.h"

namespace lumivane::platform::sim {

class SimClock;
class SimWindowFactory;
class SimWorkspace;

// An action as it travelled the responder chain.
struct SentAction {
  double time = 0;
  std::string selector;
  // "target", "delegate", "application", or "nobody".
  std::string handledBy;
};

// NSApp. Main thread only.
class SimApplication final : public Application {
 public:
  SimApplication(SimClock& clock,
                 MisuseLog& misuse,
                 SimWorkspace& workspace,
                 SimWindowFactory& windows);

  // Application.
  void setDelegate(std::weak_ptr<ApplicationDelegate> delegate) override;
  std::shared_ptr<ApplicationDelegate> delegate() const override;
  std::optional<Event> currentEvent() const override { return currentEvent_; }
  void activateIgnoringOtherApps(bool flag) override;
  bool isActive() const;
  // Tells the delegate, the first time, that the application will terminate.
  void terminate() override;
  bool isTerminating() const { return terminating_; }
  int run() override;
  bool sendAction(const std::string& selector, const std::shared_ptr<Responder>& target);

  // Scripting. What run() does after launching (runs what is due, by default)
  // and the status it returns.
  void setRunHook(std::function<void()> hook) { runHook_ = std::move(hook); }
  void setExitStatus(int status) { exitStatus_ = status; }
  // The user opens the application again (clicks it in the Finder or Dock).
  // The delegate's answer, or absent without a delegate.
  std::optional<bool> reopen();
  // Runs `block` now as the handling of `event`: currentEvent() answers
  // `event` until it returns.
  void handleEvent(const Event& event, const std::function<void()>& block);
  // The user closed the last visible window.
  void lastWindowClosed();

  // Inspection.
  const std::vector<SentAction>& sentActions() const { return sentActions_; }
  // What the delegate answered when launching asked about restorable state.
  std::optional<bool> supportsSecureRestorableState() const { return secureRestorableState_; }

 private:
  SimClock& clock_;
  MisuseLog& misuse_;
  SimWorkspace& workspace_;
  SimWindowFactory& windows_;
  std::weak_ptr<ApplicationDelegate> delegate_;
  std::optional<Event> currentEvent_;
  bool terminating_ = false;
  std::function<void()> runHook_;
  int exitStatus_ = 0;
  std::optional<bool> secureRestorableState_;
  std::vector<SentAction> sentActions_;
};

}  // namespace lumivane::platform::sim
