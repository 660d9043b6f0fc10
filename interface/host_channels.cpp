#include "interface/host_channels.h"

#include <glib.h>

#include <optional>
#include <string_view>
#include <utility>
#include <variant>

#include "platform/gtk/glib_handles.h"

namespace lumivane::interface {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;
using platform::FlutterError;
using platform::FlutterMethodChannel;
using platform::FlutterReply;
using platform::gtk::GCharPtr;

// The interface's two channels, as the Flutter interface names them.
constexpr char kSelectionChannel[] = "com.lumivane.app/selection";
constexpr char kSystemChannel[] = "com.lumivane.app/system";

// A message from the host longer than this is cut, so that one long answer
// cannot push the text area out of the panel.
constexpr long kLongestShownMessage = 300;

// Text from the other side of the channel, fit for a GTK widget: the codec
// passes only valid UTF-8, but a NUL in it would make GTK refuse the whole
// text; each one becomes U+FFFD.
std::string displayable(std::string_view text) {
  GCharPtr valid(g_utf8_make_valid(text.data(), static_cast<gssize>(text.size())));
  return valid.get();
}

std::string shortened(const std::string& text) {
  if (g_utf8_strlen(text.c_str(), -1) <= kLongestShownMessage)
    return text;
  const char* end = g_utf8_offset_to_pointer(text.c_str(), kLongestShownMessage);
  return text.substr(0, static_cast<std::size_t>(end - text.c_str())) + "…";
}

// "Could not paste" + "reason" as one sentence.
std::string sentence(const std::string& what, const std::string& reason) {
  std::string text = what + ": " + reason;
  if (!text.empty() && text.back() != '.')
    text += '.';
  return text;
}

constexpr char kUnexpectedAnswer[] = "Lumivane's answer was not what this panel expects";

// Why a call failed, in words; absent when the host answered with a value.
std::optional<std::string> failureOf(const FlutterReply& reply) {
  if (std::holds_alternative<EncodableValue>(reply))
    return std::nullopt;
  if (std::holds_alternative<platform::FlutterMethodNotImplementedT>(reply))
    return std::string("this version of Lumivane does not offer it");
  const auto& error = std::get<FlutterError>(reply);
  // What the channel reports for answer bytes that do not decode.
  if (error.code() == "malformed-reply")
    return std::string("Lumivane's answer could not be read");
  if (error.message() && !error.message()->empty())
    return shortened(displayable(*error.message()));
  return "Lumivane answered with the error " + shortened(displayable(error.code()));
}

std::optional<bool> boolAnswer(const FlutterReply& reply) {
  if (const auto* value = std::get_if<EncodableValue>(&reply)) {
    if (const auto* flag = std::get_if<bool>(value))
      return *flag;
  }
  return std::nullopt;
}

// What a failed call that should have answered true or false says.
std::string reasonOf(const FlutterReply& reply) {
  return failureOf(reply).value_or(kUnexpectedAnswer);
}

}  // namespace

HostChannels::HostChannels(const std::shared_ptr<platform::BinaryMessenger>& messenger,
                           std::weak_ptr<InterfaceView> view)
    : selection_(FlutterMethodChannel::methodChannelWithName(kSelectionChannel, messenger)),
      system_(FlutterMethodChannel::methodChannelWithName(kSystemChannel, messenger)),
      view_(std::move(view)) {}

void HostChannels::listen() {
  std::weak_ptr<HostChannels> weak = weak_from_this();
  selection_->setMethodCallHandler(
      [weak](const platform::FlutterMethodCall& call, platform::FlutterResult result) {
        auto self = weak.lock();
        auto view = self && !self->detached_ ? self->view_.lock() : nullptr;
        if (!view)
          return result(platform::FlutterMethodNotImplemented);
        if (call.method() == "updateSelection") {
          const auto* text = std::get_if<std::string>(&call.arguments());
          if (!text)
            return result(FlutterError("INVALID_ARGUMENT", "Text argument required"));
          view->showSelection(displayable(*text));
          return result(EncodableValue());
        }
        result(platform::FlutterMethodNotImplemented);
      });
}

void HostChannels::detach() {
  detached_ = true;
  selection_->setMethodCallHandler({});
}

void HostChannels::call(const std::shared_ptr<FlutterMethodChannel>& channel,
                        const char* method,
                        EncodableValue arguments,
                        Answer onAnswer) {
  std::weak_ptr<HostChannels> weak = weak_from_this();
  channel->invokeMethod(method, arguments,
                        [weak, onAnswer = std::move(onAnswer)](const FlutterReply& reply) {
                          auto self = weak.lock();
                          auto view = self && !self->detached_ ? self->view_.lock() : nullptr;
                          if (view)
                            onAnswer(*self, *view, reply);
                        });
}

// Both questions may fail; each failure is told after what is already there.
void HostChannels::panelShown() {
  if (auto view = view_.lock())
    view->showPermission(Permission::checking);
  call(selection_, "checkPermission", EncodableValue(),
       [](HostChannels&, InterfaceView& view, const FlutterReply& r) {
         if (auto allowed = boolAnswer(r)) {
           view.showPermission(*allowed ? Permission::allowed : Permission::denied);
         } else {
           view.showPermission(Permission::unknown);
           view.sayAlso(sentence("Could not check the permission to copy and paste", reasonOf(r)));
         }
       });
  call(system_, "getLaunchAtLogin", EncodableValue(),
       [](HostChannels& self, InterfaceView& view, const FlutterReply& r) {
         if (auto enabled = boolAnswer(r)) {
           self.launchAtLogin_ = *enabled;
           view.showLaunchAtLogin(*enabled);
         } else {
           view.sayAlso(sentence("Could not read whether Lumivane starts at login", reasonOf(r)));
         }
       });
}

void HostChannels::requestPermission() {
  call(selection_, "requestPermission", EncodableValue(),
       [](HostChannels&, InterfaceView& view, const FlutterReply& r) {
         if (auto allowed = boolAnswer(r)) {
           view.showPermission(*allowed ? Permission::allowed : Permission::denied);
           if (!*allowed)
             view.say("Lumivane still may not copy and paste in other applications.", true);
         } else {
           view.showPermission(Permission::unknown);
           view.say(sentence("Could not ask for the permission", reasonOf(r)), true);
         }
       });
}

void HostChannels::pasteText(const std::string& text) {
  call(selection_, "pasteText", EncodableValue(text),
       [](HostChannels&, InterfaceView& view, const FlutterReply& r) {
         if (auto pasted = boolAnswer(r)) {
           if (*pasted) {
             view.say({}, false);
           } else {
             view.say(
                 "Nothing was pasted: Lumivane may not type into other applications, or there is "
                 "no application to paste into.",
                 true);
           }
         } else {
           view.say(sentence("Could not paste the text", reasonOf(r)), true);
         }
       });
}

void HostChannels::startWindowDrag() {
  call(selection_, "startWindowDrag", EncodableValue(),
       [](HostChannels&, InterfaceView& view, const FlutterReply& r) {
         if (auto failure = failureOf(r))
           view.say(sentence("Could not move the panel", *failure), true);
       });
}

void HostChannels::setLaunchAtLogin(bool enabled) {
  call(system_, "setLaunchAtLogin", EncodableValue(enabled),
       [enabled](HostChannels& self, InterfaceView& view, const FlutterReply& r) {
         auto failure = failureOf(r);
         if (!failure) {
           self.launchAtLogin_ = enabled;
           return;
         }
         view.say(sentence(enabled ? "Could not make Lumivane start at login"
                                   : "Could not stop Lumivane starting at login",
                           *failure),
                  true);
         // The switch shows what the system holds, not what was asked for.
         self.call(self.system_, "getLaunchAtLogin", EncodableValue(),
                   [](HostChannels& self, InterfaceView& view, const FlutterReply& r) {
                     if (auto held = boolAnswer(r)) {
                       self.launchAtLogin_ = *held;
                     } else {
                       view.sayAlso(sentence("Could not read whether it starts at login either",
                                             reasonOf(r)));
                     }
                     view.showLaunchAtLogin(self.launchAtLogin_);
                   });
       });
}

void HostChannels::setHotKey(HotKeyChord chord) {
  EncodableMap arguments{
      {EncodableValue("keyCode"), EncodableValue(static_cast<std::int64_t>(chord.keyCode))},
      {EncodableValue("modifiers"), EncodableValue(static_cast<std::int64_t>(chord.modifiers))},
  };
  call(system_, "setGlobalHotKey", EncodableValue(std::move(arguments)),
       [chord](HostChannels& self, InterfaceView& view, const FlutterReply& r) {
         self.hotKeyAnswered(chord, view, r);
       });
}

void HostChannels::hotKeyAnswered(HotKeyChord chord,
                                  InterfaceView& view,
                                  const FlutterReply& reply) {
  const std::string asked = chordName(chord);
  const std::string inForce = chordName(hotKey_) + " is still in use.";
  if (std::holds_alternative<EncodableValue>(reply)) {
    hotKey_ = chord;
    view.showHotKey(chord);
    view.say(asked + " now shows Lumivane.", false);
    return;
  }
  if (const auto* error = std::get_if<FlutterError>(&reply)) {
    if (error->code() == "HOTKEY_UNAVAILABLE") {
      view.say(asked + " is taken by another application; " + inForce, true);
      return;
    }
    if (error->code() == "INVALID_ARGUMENT") {
      view.say("Lumivane did not accept " + asked + " as a shortcut; " + inForce, true);
      return;
    }
    if (error->code() == "malformed-reply") {
      // The host may or may not have taken the chord.
      view.say(sentence("Could not tell whether " + asked + " was taken as the shortcut",
                        *failureOf(reply)),
               true);
      return;
    }
  }
  view.say(sentence("Could not change the shortcut", *failureOf(reply)) + " " + inForce, true);
}

}  // namespace lumivane::interface
