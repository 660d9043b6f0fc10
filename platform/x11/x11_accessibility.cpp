#include "platform/x11/x11_accessibility.h"

#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>
#include <xcb/xtest.h>

namespace lumivane::platform::x11 {

X11Accessibility::X11Accessibility(GdkDisplay* display)
    : prompt_(display, kPromptTitle, kPromptText) {
  if (display && GDK_IS_X11_DISPLAY(display) && !gdk_display_is_closed(display)) {
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(
        XGetXCBConnection(gdk_x11_display_get_xdisplay(display)), &xcb_test_id);
    offersXTest_ = xtest && xtest->present;
  }
}

X11Accessibility::~X11Accessibility() = default;

bool X11Accessibility::AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) {
  if (offersXTest_)
    return true;
  auto it = options.find(kAXTrustedCheckOptionPrompt);
  if (it != options.end() && it->second)
    prompt_.showOnce();
  return false;
}

}  // namespace lumivane::platform::x11
