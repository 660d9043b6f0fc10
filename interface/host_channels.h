#pragma once

#include <functional>
#include <memory>
#include <string>

#include "interface/hot_key_chord.h"
#include "platform/flutter/binary_messenger.h"
#include "platform/flutter/method_channel.h"

namespace lumivane::interface {

// Whether the host may copy and paste in other applications, as last heard.
enum class Permission { checking, allowed, denied, unknown };

// What the channels have the interface show. Main thread.
class InterfaceView {
 public:
  virtual ~InterfaceView() = default;
  // The selection the host handed over, as text GTK takes whole.
  virtual void showSelection(const std::string& text) = 0;
  virtual void showPermission(Permission permission) = 0;
  virtual void showLaunchAtLogin(bool enabled) = 0;
  // The shortcut in force.
  virtual void showHotKey(HotKeyChord chord) = 0;
  // What happened, in the status line; `problem` when it went wrong. Empty
  // text clears the line.
  virtual void say(const std::string& text, bool problem) = 0;
  // A further problem of the same action, after what the line says.
  virtual void sayAlso(const std::string& text) = 0;
};

// The interface's side of the host's channels "com.lumivane.app/selection"
// and "com.lumivane.app/system": the host's calls reach the view, and each
// of the interface's calls is answered through a callback that tells the view
// the outcome, a failure in words. Nothing waits for the host. Answers that
// arrive after detach(), or once the view has gone, are dropped. Main thread
// only.
class HostChannels : public std::enable_shared_from_this<HostChannels> {
 public:
  HostChannels(const std::shared_ptr<platform::BinaryMessenger>& messenger,
               std::weak_ptr<InterfaceView> view);

  // Answers the host's calls from now on.
  void listen();
  // Stops answering the host and telling the view.
  void detach();

  // The panel came up: asks whether the host may copy and paste, and whether
  // it starts at login.
  void panelShown();
  void requestPermission();
  void pasteText(const std::string& text);
  // The host moves the panel with the press being handled.
  void startWindowDrag();
  void setLaunchAtLogin(bool enabled);
  void setHotKey(HotKeyChord chord);

 private:
  using Answer = std::function<void(HostChannels&, InterfaceView&, const platform::FlutterReply&)>;

  void call(const std::shared_ptr<platform::FlutterMethodChannel>& channel,
            const char* method,
            platform::EncodableValue arguments,
            Answer onAnswer);
  void hotKeyAnswered(HotKeyChord chord, InterfaceView& view, const platform::FlutterReply& reply);

  std::shared_ptr<platform::FlutterMethodChannel> selection_;
  std::shared_ptr<platform::FlutterMethodChannel> system_;
  std::weak_ptr<InterfaceView> view_;
  HotKeyChord hotKey_ = kStartupHotKey;
  // What the host last said about launch at login.
  bool launchAtLogin_ = false;
  bool detached_ = false;
};

}  // namespace lumivane::interface
