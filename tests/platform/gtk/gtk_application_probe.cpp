// A stand-in host for the tests that start Lumivane as separate processes:
// runs an GtkHostApplication under the id given as its argument and prints, one
// line each, what happens to it.

#include <cstdio>
#include <memory>
#include <string>

#include "platform/gtk/gtk_application.h"

namespace {

void say(const char* line) {
  std::printf("%s\n", line);
  std::fflush(stdout);
}

class PrintingDelegate final : public lumivane::platform::ApplicationDelegate {
 public:
  void applicationDidFinishLaunching(const lumivane::platform::Notification&) override {
    say("launched");
  }
  bool applicationShouldTerminateAfterLastWindowClosed() override { return false; }
  bool applicationShouldHandleReopen(bool) override {
    say("reopen");
    return true;
  }
  bool applicationSupportsSecureRestorableState() override { return true; }
  bool performAction(const std::string&) override { return false; }
};

}  // namespace

int main(int argc, char** argv) {
  using lumivane::platform::gtk::GtkHostApplication;
  std::string error;
  if (!lumivane::platform::gtk::initializeGtk("x11", &error)) {
    say("no display");
    return 2;
  }
  GtkHostApplication application({.applicationId = argc > 1 ? argv[1] : "com.lumivane.Probe",
                                  .unique = true,
                                  .windowSystem = {}});
  auto delegate = std::make_shared<PrintingDelegate>();
  application.setDelegate(delegate);
  auto hook = application.addTerminationHook([] { say("terminating"); });
  const int status = application.run();
  say("exited");
  return status;
}
