#pragma once

#include <gdk/gdk.h>

#include <string>

namespace lumivane::test_support {

// Starts GTK in this test process, once, on a private display of its own that
// lasts as long as the process (GTK cannot move its default display, and
// would end the process if that display's server went away). Tests then open
// displays of their own with GdkTestDisplay. False when it could not start.
bool startGtkOnPrivateDisplay();

// A GDK connection to one test's display, closed when it goes (before the
// test's server is ended).
class GdkTestDisplay {
 public:
  explicit GdkTestDisplay(const std::string& name);
  ~GdkTestDisplay();
  GdkTestDisplay(const GdkTestDisplay&) = delete;
  GdkTestDisplay& operator=(const GdkTestDisplay&) = delete;

  GdkDisplay* get() const { return display_; }

  // Runs what the main loop has ready (GDK's events among it).
  static void pump();

 private:
  GdkDisplay* display_ = nullptr;
};

}  // namespace lumivane::test_support
