#include "tests/platform/x11/gdk_test_display.h"

#include <gtk/gtk.h>

#include "tests/support/x_session.h"

namespace lumivane::test_support {

bool startGtkOnPrivateDisplay() {
  static const bool started = [] {
    // Ended at exit, after the last test; nothing reads GDK's connection then.
    static XSession session(XSession::Options{.windowManager = false, .sessionBus = false});
    if (!session.ready())
      return false;
    session.exportToThisProcess();
    gdk_set_allowed_backends("x11");
    return gtk_init_check(nullptr, nullptr) == TRUE;
  }();
  return started;
}

GdkTestDisplay::GdkTestDisplay(const std::string& name)
    : display_(gdk_display_open(name.c_str())) {}

GdkTestDisplay::~GdkTestDisplay() {
  if (!display_)
    return;
  pump();
  gdk_display_close(display_);
}

void GdkTestDisplay::pump() {
  while (g_main_context_iteration(nullptr, FALSE)) {
  }
}

}  // namespace lumivane::test_support
