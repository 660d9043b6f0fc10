#pragma once

#include <gdk/gdk.h>

#include "platform/accessibility_trust.h"
#include "platform/gtk/trust_prompt.h"

namespace lumivane::platform::x11 {

// Whether the host may type into other applications: on X11, whether the
// display offers the XTEST extension the synthetic keys are injected with.
// Nothing else stands in the way; X lets any client of the display do it.
// Made on the main thread; asked on any.
//
// The answer is GDK's connection's, learnt when this object is made: an
// extension cannot come or go while the server runs.
class X11Accessibility final : public Accessibility {
 public:
  // What the prompt tells the user.
  static constexpr const char* kPromptTitle = "Lumivane cannot type into other applications";
  static constexpr const char* kPromptText =
      "Lumivane types into other applications through the X server's XTEST extension, which "
      "this display does not offer. Copying the selection and pasting results will not work "
      "until the X server is started with XTEST.";

  // `display`: GDK's display the synthetic keys go to, where the prompt
  // appears too. Null, or not an X display: never trusted, and the prompt
  // goes to GDK's default display.
  explicit X11Accessibility(GdkDisplay* display);
  ~X11Accessibility() override;
  X11Accessibility(const X11Accessibility&) = delete;
  X11Accessibility& operator=(const X11Accessibility&) = delete;

  // With the prompt option and XTEST missing, a message dialog appears on the
  // main loop's next turn, without waiting for the user; once for this object,
  // and the backend makes one per process.
  bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) override;

 private:
  bool offersXTest_ = false;
  gtk::TrustPrompt prompt_;
};

}  // namespace lumivane::platform::x11
