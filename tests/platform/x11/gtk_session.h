#pragma once

#include "tests/platform/x11/gtk_test_display.h"

namespace lumivane::test_support {

// The private desktop, with a window manager and a session bus, of an
// executable whose tests all run GTK on it; set up before its first test.
inline ::testing::Environment* const kGtkSessionEnvironment =
    ::testing::AddGlobalTestEnvironment(new GtkDisplayEnvironment(XSession::Options{}));

// The executable's session; null, with a failure saying why, when it could
// not start.
inline XSession* gtkTestSession() {
  return startGtkOnPrivateDesktop(XSession::Options{});
}

}  // namespace lumivane::test_support
