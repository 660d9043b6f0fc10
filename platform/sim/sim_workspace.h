#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "platform/keyboard_events.h"
#include "platform/pasteboard.h"
#include "platform/sim/sim_common.h"
#include "platform/workspace.h"

namespace lumivane::platform::sim {

class SimClock;
class SimPasteboard;
class SimWorkspace;

// What an application puts on the pasteboard when told to copy.
enum class CopyBehaviour {
  text,     // its selection, as plain text
  image,    // a picture: one item holding only PNG data
  nothing,  // no selection: the pasteboard is left alone
};

// An application on the simulated desktop.
struct AppProfile {
  AppProfile() = default;
  AppProfile(std::string name,
             std::optional<std::string> bundleId,
             pid_t pid,
             std::string selection = {},
             double copyDelay = 0.05,
             CopyBehaviour copies = CopyBehaviour::text,
             bool reacts = true)
      : name(std::move(name)),
        bundleId(std::move(bundleId)),
        pid(pid),
        selection(std::move(selection)),
        copyDelay(copyDelay),
        copies(copies),
        reacts(reacts) {}

  std::string name;
  std::optional<std::string> bundleId;
  pid_t pid = 0;
  std::string selection;
  // How long after the copy chord the copy lands on the pasteboard.
  double copyDelay = 0.05;
  CopyBehaviour copies = CopyBehaviour::text;
  // False for an application that ignores synthetic key events altogether.
  bool reacts = true;
  // How long after it is asked to come forward the application is in front:
  // activation is carried out by the window server, never inside the call.
  double activationDelay = 0;
  // False for an application that accepts a request to come forward (the
  // call succeeds) and yet stays behind, as the system may decide.
  bool comesForward = true;
  // How long after the paste chord the application reads the pasteboard.
  double pasteDelay = 0;
};

// Text an application received from a paste chord; absent when the
// pasteboard held no plain text at that moment.
struct Insertion {
  double time = 0;
  std::optional<std::string> text;
};

class SimRunningApplication final : public RunningApplication,
                                    public std::enable_shared_from_this<SimRunningApplication> {
 public:
  SimRunningApplication(AppProfile profile, std::weak_ptr<SimWorkspace> workspace);

  // RunningApplication.
  std::optional<std::string> bundleIdentifier() const override;
  pid_t processIdentifier() const override { return pid_; }
  std::string localizedName() const;
  bool isTerminated() const { return terminated_.load(); }
  bool activateWithOptions(std::uint32_t options) override;

  // Scripting.
  void setSelection(std::string selection) { set(&AppProfile::selection, std::move(selection)); }
  void setCopyBehaviour(CopyBehaviour copies) { set(&AppProfile::copies, copies); }
  void setCopyDelay(double seconds) { set(&AppProfile::copyDelay, seconds); }
  void setReacts(bool reacts) { set(&AppProfile::reacts, reacts); }
  void setBundleIdentifier(std::optional<std::string> bundleId) {
    set(&AppProfile::bundleId, std::move(bundleId));
  }
  void setActivationDelay(double seconds) { set(&AppProfile::activationDelay, seconds); }
  void setComesForward(bool comesForward) { set(&AppProfile::comesForward, comesForward); }
  void setPasteDelay(double seconds) { set(&AppProfile::pasteDelay, seconds); }

  // Inspection.
  AppProfile profile() const;
  // The options of every activateWithOptions call, refused ones included.
  std::vector<std::uint32_t> activationRequests() const;
  std::vector<Insertion> insertions() const;
  // When the application put its copy on the pasteboard.
  std::vector<double> copyTimes() const;

 private:
  friend class SimWorkspace;

  template <typename T>
  void set(T AppProfile::*field, T value) {
    std::lock_guard lock(mutex_);
    profile_.*field = std::move(value);
  }

  const pid_t pid_;
  std::weak_ptr<SimWorkspace> workspace_;
  std::atomic<bool> terminated_{false};
  mutable std::mutex mutex_;
  AppProfile profile_;
  std::vector<std::uint32_t> activationRequests_;
  std::vector<Insertion> insertions_;
  std::vector<double> copyTimes_;
};

// The workspace's notification centre. Delivery happens on the main thread,
// as a task of its own (never inside the call that caused it).
class SimNotificationCenter final : public NotificationCenter {
 public:
  SimNotificationCenter(SimClock& clock, SimTrace& trace, MisuseLog& misuse)
      : clock_(clock), trace_(trace), misuse_(misuse) {}

  void addObserver(const std::string& name,
                   std::function<void(const Notification&)> callback) override;

  // Delivers `notification` to the observers of its name, on the main thread,
  // `delay` seconds from now. Any content goes, malformed user info included.
  void post(Notification notification, double delay = 0);

 private:
  struct Observer {
    std::string name;
    std::shared_ptr<std::function<void(const Notification&)>> callback;
  };
  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  mutable std::mutex mutex_;
  std::vector<Observer> observers_;
};

// The shared workspace: the running applications, which one is in front, and
// how they answer the key chords posted to them.
class SimWorkspace final : public Workspace, public std::enable_shared_from_this<SimWorkspace> {
 public:
  SimWorkspace(SimClock& clock, SimTrace& trace, MisuseLog& misuse, SimPasteboard& pasteboard);

  // Workspace.
  NotificationCenter& notificationCenter() override { return center_; }
  std::shared_ptr<RunningApplication> frontmostApplication() override;

  // Made once the workspace is owned by a shared_ptr.
  void createHostApplication(AppProfile profile);
  std::shared_ptr<SimRunningApplication> hostApplication() const;

  // Scripting.
  std::shared_ptr<SimRunningApplication> addApplication(AppProfile profile);
  // The user brings `app` to the front; the activation notification follows on
  // the main thread.
  void bringToFront(const std::shared_ptr<SimRunningApplication>& app);
  // How long after an application comes to the front the workspace announces
  // it (0: on the main thread's next turn). The front application changes at
  // once either way, as it does for a user switching applications.
  void setAnnouncementDelay(double seconds) { announcementDelay_.store(seconds); }
  // The application exits. If it was in front, nothing is in front afterwards.
  void quit(const std::shared_ptr<SimRunningApplication>& app);
  void postNotification(Notification notification) { center_.post(std::move(notification)); }
  SimNotificationCenter& center() { return center_; }
  std::shared_ptr<SimRunningApplication> frontmost() const;
  std::shared_ptr<SimRunningApplication> applicationWithPid(pid_t pid) const;
  bool isHostActive() const;

  // The host's own activation (activateIgnoringOtherApps:).
  void activateHost();
  // Called with the host's new state whenever it becomes active or inactive.
  void setHostActivationListener(std::function<void(bool active)> listener);

  // A key event reaches `pid` (or, when absent, the frontmost application).
  // Returns the process that received it, absent when it was dropped.
  std::optional<pid_t> deliverKeyEvent(std::optional<pid_t> pid,
                                       CGKeyCode keyCode,
                                       bool keyDown,
                                       CGEventFlags flags);

 private:
  friend class SimRunningApplication;
  void activate(const std::shared_ptr<SimRunningApplication>& app, const char* by);
  void copyNow(const std::shared_ptr<SimRunningApplication>& app);
  void pasteNow(const std::shared_ptr<SimRunningApplication>& app);

  SimClock& clock_;
  SimTrace& trace_;
  MisuseLog& misuse_;
  SimPasteboard& pasteboard_;
  SimNotificationCenter center_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<SimRunningApplication>> apps_;
  std::shared_ptr<SimRunningApplication> host_;
  std::shared_ptr<SimRunningApplication> frontmost_;
  std::atomic<double> announcementDelay_{0};
  std::function<void(bool)> hostActivationListener_;
};

// The host's bundle.
class SimBundle final : public Bundle {
 public:
  std::optional<std::string> bundleIdentifier() const override;
  void setBundleIdentifier(std::optional<std::string> bundleId);

 private:
  mutable std::mutex mutex_;
  std::optional<std::string> bundleId_ = "com.lumivane.app";
};

// The bytes an image-copying application writes: a PNG signature and header.
Bytes samplePngBytes();

}  // namespace lumivane::platform::sim
