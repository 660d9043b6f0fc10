#pragma once

#include <gdk/gdk.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>

#include "platform/accessibility_trust.h"
#include "platform/x11/x11_connection.h"

namespace lumivane::platform::x11 {

// Whether the host may type into other applications: on X11, whether the
// display offers the XTEST extension the synthetic keys are injected with.
// Nothing else stands in the way; X lets any client of the display do it.
// Any thread.
//
// The answer comes from a connection of this object's own (XCB asks the
// server once per connection, and an extension cannot come or go while the
// server runs); a connection the server dropped is replaced on the next
// question.
class X11Accessibility final : public Accessibility {
 public:
  // What the prompt tells the user.
  static constexpr const char* kPromptTitle = "Lumivane cannot type into other applications";
  static constexpr const char* kPromptText =
      "Lumivane types into other applications through the X server's XTEST extension, which "
      "this display does not offer. Copying the selection and pasting results will not work "
      "until the X server is started with XTEST.";

  // `displayName`: the display the synthetic keys go to ($DISPLAY when
  // empty). `promptDisplay`: the GDK display the prompt appears on (GDK's
  // default display when null).
  X11Accessibility(std::string displayName, GdkDisplay* promptDisplay);
  ~X11Accessibility() override;
  X11Accessibility(const X11Accessibility&) = delete;
  X11Accessibility& operator=(const X11Accessibility&) = delete;

  // With the prompt option and XTEST missing, a message dialog appears on the
  // main loop's next turn, without waiting for the user; once for this object,
  // and the backend makes one per process.
  bool AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) override;

 private:
  struct DisplayUnref {
    void operator()(GdkDisplay* display) const;
  };
  bool offersXTest();
  void prompt();

  const std::string displayName_;
  std::unique_ptr<GdkDisplay, DisplayUnref> promptDisplay_;
  std::mutex mutex_;
  std::unique_ptr<XcbConnection> connection_;
  std::atomic<bool> prompted_ = false;
};

}  // namespace lumivane::platform::x11
