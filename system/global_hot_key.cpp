#include "shell/app_delegate.h"

namespace lumivane {
namespace {

using platform::OSStatus;

constexpr std::uint32_t kDefaultKeyCode = platform::kVK_ANSI_T;
constexpr std::uint32_t kDefaultModifiers = platform::cmdKey | platform::shiftKey;
constexpr platform::EventHotKeyID kHotKeyID{platform::fourCharCode("QMHK"), 1};

// A plain callback: its only context is the desktop it was installed on,
// passed as the registration's user data (the desktop outlives every handler
// installed on it). It reaches the host through that desktop's application
// delegate, and only from the main queue, after the press has been reported
// as handled.
OSStatus hotKeyPressed(platform::EventHandlerCallRef, platform::EventRef, void* userData) {
  auto* desktop = static_cast<platform::Desktop*>(userData);
  if (!desktop)
    return platform::noErr;
  desktop->dispatch().mainQueue().async([desktop] {
    if (auto delegate = std::dynamic_pointer_cast<AppDelegate>(desktop->application().delegate())) {
      delegate->showAndCaptureSelection();
    }
  });
  return platform::noErr;
}

}  // namespace

void AppDelegate::setupGlobalHotKey() {
  auto& hotKeys = desktop_.hotKeys();
  const platform::EventTypeSpec pressed{platform::kEventClassKeyboard,
                                        platform::kEventHotKeyPressed};
  hotKeys.InstallEventHandler(hotKeys.GetApplicationEventTarget(), &hotKeyPressed, 1, &pressed,
                              &desktop_, nullptr);
  updateGlobalHotKey(kDefaultKeyCode, kDefaultModifiers);
}

OSStatus AppDelegate::updateGlobalHotKey(std::uint32_t keyCode, std::uint32_t modifiers) {
  auto& hotKeys = desktop_.hotKeys();
  // A registration counts only when it hands back a reference.
  auto registerChord = [&](std::uint32_t code, std::uint32_t mods) {
    OSStatus status = hotKeys.RegisterEventHotKey(
        code, mods, kHotKeyID, hotKeys.GetApplicationEventTarget(), 0, &hotKeyRef);
    if (status == platform::noErr && !hotKeyRef)
      status = platform::eventHotKeyInvalidErr;
    if (status != platform::noErr)
      hotKeyRef = nullptr;
    return status;
  };

  const bool hadHotKey = hotKeyRef != nullptr;
  if (hotKeyRef) {
    hotKeys.UnregisterEventHotKey(hotKeyRef);
    hotKeyRef = nullptr;
  }
  const OSStatus status = registerChord(keyCode, modifiers);
  if (status == platform::noErr) {
    hotKeyCode_ = keyCode;
    hotKeyModifiers_ = modifiers;
  } else if (hadHotKey) {
    // The new chord is not to be had: keep the user's previous one working
    // rather than leaving no hot key at all.
    registerChord(hotKeyCode_, hotKeyModifiers_);
  }
  return status;
}

}  // namespace lumivane
