#pragma once

#include <gdk/gdk.h>

#include <atomic>
#include <string>

#include "platform/gtk/glib_handles.h"

namespace lumivane::platform::gtk {

// What the Accessibility check shows when the host cannot type into other
// applications and the caller asked for a prompt: a warning dialog saying
// why, on the main loop's next turn, without waiting for the user. Once for
// this object, whichever thread asks; the backends make one per process.
class TrustPrompt {
 public:
  // `display`: where the dialog appears; GDK's default display when null.
  TrustPrompt(GdkDisplay* display, std::string title, std::string text);
  ~TrustPrompt();
  TrustPrompt(const TrustPrompt&) = delete;
  TrustPrompt& operator=(const TrustPrompt&) = delete;

  // Any thread.
  void showOnce();

 private:
  GObjectPtr<GdkDisplay> display_;
  const std::string title_;
  const std::string text_;
  std::atomic<bool> shown_ = false;
  GSourcePtr showing_;
};

}  // namespace lumivane::platform::gtk
