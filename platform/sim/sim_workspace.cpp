#include "platform/sim/sim_workspace.h"

#include <algorithm>
#include <utility>

#include "platform/pasteboard.h"
#include "platform/sim/sim_clock.h"
#include "platform/sim/sim_pasteboard.h"

namespace lumivane::platform::sim {

namespace {
constexpr CGEventFlags kModifierMask = kCGEventFlagMaskShift | kCGEventFlagMaskControl |
                                       kCGEventFlagMaskAlternate | kCGEventFlagMaskCommand;
}  // namespace

Bytes samplePngBytes() {
  return Bytes{0x89, 'P',  'N',  'G',  0x0D, 0x0A, 0x1A, 0x0A, 0x00, 0x00, 0x00,
               0x0D, 'I',  'H',  'D',  'R',  0x00, 0x00, 0x00, 0x01, 0x00, 0x00,
               0x00, 0x01, 0x08, 0x06, 0x00, 0x00, 0x00, 0x1F, 0x15, 0xC4, 0x89};
}

// --- SimRunningApplication ---

SimRunningApplication::SimRunningApplication(AppProfile profile,
                                             std::weak_ptr<SimWorkspace> workspace)
    : pid_(profile.pid), workspace_(std::move(workspace)), profile_(std::move(profile)) {}

std::optional<std::string> SimRunningApplication::bundleIdentifier() const {
  std::lock_guard lock(mutex_);
  return profile_.bundleId;
}

std::string SimRunningApplication::localizedName() const {
  std::lock_guard lock(mutex_);
  return profile_.name;
}

bool SimRunningApplication::activateWithOptions(std::uint32_t options) {
  auto workspace = workspace_.lock();
  if (workspace) {
    workspace->misuse_.requireMainThread("NSRunningApplication activateWithOptions:");
  }
  {
    std::lock_guard lock(mutex_);
    activationRequests_.push_back(options);
  }
  if (!workspace || isTerminated()) {
    return false;
  }
  const AppProfile wanted = profile();
  if (!wanted.comesForward) {
    return true;
  }
  std::weak_ptr<SimRunningApplication> weakSelf = weak_from_this();
  std::weak_ptr<SimWorkspace> weakWorkspace = workspace;
  workspace->clock_.scheduleExternal(workspace->clock_.now() + wanted.activationDelay,
                                     [weakSelf, weakWorkspace] {
                                       auto self = weakSelf.lock();
                                       auto workspace = weakWorkspace.lock();
                                       if (self && workspace && !self->isTerminated()) {
                                         workspace->activate(self, "host");
                                       }
                                     });
  return true;
}

AppProfile SimRunningApplication::profile() const {
  std::lock_guard lock(mutex_);
  return profile_;
}

std::vector<std::uint32_t> SimRunningApplication::activationRequests() const {
  std::lock_guard lock(mutex_);
  return activationRequests_;
}

std::vector<Insertion> SimRunningApplication::insertions() const {
  std::lock_guard lock(mutex_);
  return insertions_;
}

std::vector<double> SimRunningApplication::copyTimes() const {
  std::lock_guard lock(mutex_);
  return copyTimes_;
}

// --- SimNotificationCenter ---

void SimNotificationCenter::addObserver(const std::string& name,
                                        std::function<void(const Notification&)> callback) {
  misuse_.requireMainThread("NSNotificationCenter addObserver:");
  {
    std::lock_guard lock(mutex_);
    observers_.push_back(
        {name, std::make_shared<std::function<void(const Notification&)>>(std::move(callback))});
  }
  trace_.emit(TraceKind::observerAdded, {{"name", name}});
}

void SimNotificationCenter::post(Notification notification, double delay) {
  clock_.scheduleOnMain(clock_.now() + delay, [this, notification = std::move(notification)] {
    std::vector<std::shared_ptr<std::function<void(const Notification&)>>> callbacks;
    {
      std::lock_guard lock(mutex_);
      for (const auto& observer : observers_) {
        if (observer.name == notification.name) {
          callbacks.push_back(observer.callback);
        }
      }
    }
    for (const auto& callback : callbacks) {
      (*callback)(notification);
    }
  });
}

// --- SimWorkspace ---

SimWorkspace::SimWorkspace(SimClock& clock,
                           SimTrace& trace,
                           MisuseLog& misuse,
                           SimPasteboard& pasteboard)
    : clock_(clock),
      trace_(trace),
      misuse_(misuse),
      pasteboard_(pasteboard),
      center_(clock, trace, misuse) {}

std::shared_ptr<RunningApplication> SimWorkspace::frontmostApplication() {
  misuse_.requireMainThread("NSWorkspace frontmostApplication");
  return frontmost();
}

void SimWorkspace::createHostApplication(AppProfile profile) {
  auto host = std::make_shared<SimRunningApplication>(std::move(profile), weak_from_this());
  std::lock_guard lock(mutex_);
  host_ = host;
  apps_.push_back(std::move(host));
}

std::shared_ptr<SimRunningApplication> SimWorkspace::hostApplication() const {
  std::lock_guard lock(mutex_);
  return host_;
}

std::shared_ptr<SimRunningApplication> SimWorkspace::addApplication(AppProfile profile) {
  auto app = std::make_shared<SimRunningApplication>(std::move(profile), weak_from_this());
  std::lock_guard lock(mutex_);
  apps_.push_back(app);
  return app;
}

void SimWorkspace::bringToFront(const std::shared_ptr<SimRunningApplication>& app) {
  if (app && !app->isTerminated()) {
    activate(app, "user");
  }
}

void SimWorkspace::quit(const std::shared_ptr<SimRunningApplication>& app) {
  if (!app) {
    return;
  }
  app->terminated_.store(true);
  bool hostWasActive = false;
  std::function<void(bool)> listener;
  {
    std::lock_guard lock(mutex_);
    if (frontmost_ != app) {
      return;
    }
    hostWasActive = frontmost_ == host_;
    frontmost_ = nullptr;
    listener = hostActivationListener_;
  }
  if (hostWasActive && listener) {
    listener(false);
  }
}

std::shared_ptr<SimRunningApplication> SimWorkspace::frontmost() const {
  std::lock_guard lock(mutex_);
  return frontmost_;
}

std::shared_ptr<SimRunningApplication> SimWorkspace::applicationWithPid(pid_t pid) const {
  std::lock_guard lock(mutex_);
  // A live process first: a pid can be reused after its first owner exited.
  std::shared_ptr<SimRunningApplication> exited;
  for (const auto& app : apps_) {
    if (app->processIdentifier() != pid) {
      continue;
    }
    if (!app->isTerminated()) {
      return app;
    }
    exited = app;
  }
  return exited;
}

bool SimWorkspace::isHostActive() const {
  std::lock_guard lock(mutex_);
  return frontmost_ && frontmost_ == host_;
}

void SimWorkspace::activateHost() {
  if (auto host = hostApplication()) {
    activate(host, "host");
  }
}

void SimWorkspace::setHostActivationListener(std::function<void(bool active)> listener) {
  std::lock_guard lock(mutex_);
  hostActivationListener_ = std::move(listener);
}

void SimWorkspace::activate(const std::shared_ptr<SimRunningApplication>& app, const char* by) {
  bool hostWasActive;
  bool hostIsActive;
  std::function<void(bool)> listener;
  {
    std::lock_guard lock(mutex_);
    if (frontmost_ == app) {
      return;  // already active: the workspace announces changes only
    }
    hostWasActive = frontmost_ && frontmost_ == host_;
    frontmost_ = app;
    hostIsActive = app == host_;
    listener = hostActivationListener_;
  }
  trace_.emit(TraceKind::appActivated, {{"pid", std::to_string(app->processIdentifier())},
                                        {"name", app->localizedName()},
                                        {"by", by}});
  if (hostWasActive != hostIsActive && listener) {
    listener(hostIsActive);
  }
  Notification notification{
      NSWorkspaceDidActivateApplicationNotification,
      std::map<std::string, UserInfoValue>{
          {NSWorkspaceApplicationKey, std::static_pointer_cast<RunningApplication>(app)}}};
  center_.post(std::move(notification), announcementDelay_.load());
}

std::optional<pid_t> SimWorkspace::deliverKeyEvent(std::optional<pid_t> pid,
                                                   CGKeyCode keyCode,
                                                   bool keyDown,
                                                   CGEventFlags flags) {
  auto app = pid ? applicationWithPid(*pid) : frontmost();
  if (!app || app->isTerminated()) {
    return std::nullopt;
  }
  const AppProfile profile = app->profile();
  // Applications answer their menu's key equivalents: Command alone with the
  // letter. Another modifier makes it a different command (Shift-Command-C is
  // not Copy), so a chord that picks up a held Shift does nothing here.
  if (profile.reacts && keyDown && (flags & kModifierMask) == kCGEventFlagMaskCommand &&
      app != hostApplication()) {
    std::weak_ptr<SimRunningApplication> weakApp = app;
    if (keyCode == kVK_ANSI_C) {
      clock_.scheduleExternal(clock_.now() + profile.copyDelay, [this, weakApp] {
        if (auto target = weakApp.lock()) {
          copyNow(target);
        }
      });
    } else if (keyCode == kVK_ANSI_V) {
      clock_.scheduleExternal(clock_.now() + profile.pasteDelay, [this, weakApp] {
        if (auto target = weakApp.lock()) {
          pasteNow(target);
        }
      });
    }
  }
  return app->processIdentifier();
}

void SimWorkspace::copyNow(const std::shared_ptr<SimRunningApplication>& app) {
  if (app->isTerminated()) {
    return;  // quit before its copy landed
  }
  const AppProfile profile = app->profile();
  switch (profile.copies) {
    case CopyBehaviour::text:
      pasteboard_.clearContentsBy(profile.name);
      pasteboard_.setStringBy(profile.name, profile.selection, NSPasteboardTypeString);
      break;
    case CopyBehaviour::image:
      pasteboard_.writeContentsBy(profile.name, {{{NSPasteboardTypePNG, samplePngBytes()}}});
      break;
    case CopyBehaviour::nothing:
      return;
  }
  std::lock_guard lock(app->mutex_);
  app->copyTimes_.push_back(clock_.now());
}

void SimWorkspace::pasteNow(const std::shared_ptr<SimRunningApplication>& app) {
  if (app->isTerminated()) {
    return;
  }
  Insertion insertion{clock_.now(), pasteboard_.plainText()};
  std::vector<std::pair<std::string, std::string>> fields{
      {"pid", std::to_string(app->processIdentifier())}, {"name", app->localizedName()}};
  if (insertion.text) {
    fields.emplace_back("length", std::to_string(insertion.text->size()));
    fields.emplace_back("text", *insertion.text);
  } else {
    fields.emplace_back("text", "(none)");
  }
  {
    std::lock_guard lock(app->mutex_);
    app->insertions_.push_back(insertion);
  }
  trace_.emit(TraceKind::textInserted, std::move(fields));
}

// --- SimBundle ---

std::optional<std::string> SimBundle::bundleIdentifier() const {
  std::lock_guard lock(mutex_);
  return bundleId_;
}

void SimBundle::setBundleIdentifier(std::optional<std::string> bundleId) {
  std::lock_guard lock(mutex_);
  bundleId_ = std::move(bundleId);
}

}  // namespace lumivane::platform::sim
