#pragma once

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/desktop.h"
#include "platform/flutter/flutter_app_delegate.h"
#include "platform/gtk/glib_dispatch.h"
#include "platform/gtk/gtk_application.h"
#include "platform/gtk/gtk_status_bar.h"
#include "platform/gtk/gtk_window.h"
#include "platform/sim/sim_desktop.h"
#include "platform/x11/x11_tray_icon.h"
#include "platform/x11/x11_window_system.h"
#include "tests/platform/x11/gtk_session.h"
#include "tests/platform/x11/x_probe.h"

namespace lumivane::test_support {

// The host's windows, views, status item, application and main loop on the
// test's X display; the services this backend part does not provide
// (pasteboard, workspace, keys) from a simulated desktop. Status items are
// shown by `presenter` (tray icons by default).
class HostOnX11Desktop final : public platform::Desktop {
 public:
  explicit HostOnX11Desktop(platform::gtk::StatusIconPresenterFactory presenter = {})
      : application_({.applicationId = "com.lumivane.Test",
                      .unique = false,
                      .windowSystem = std::make_shared<platform::x11::X11WindowSystem>()}),
        windows_(application_.windows()),
        statusBar_(application_, presenter ? std::move(presenter) : platform::x11::trayIcons()),
        embedding_(views_) {}

  platform::gtk::GtkHostApplication& application() override { return application_; }
  platform::gtk::GtkWindowFactory& windows() override { return windows_; }
  platform::gtk::GtkViewFactory& views() override { return views_; }
  platform::gtk::GtkStatusBar& statusBar() override { return statusBar_; }
  platform::Pasteboard& generalPasteboard() override { return sim_.generalPasteboard(); }
  platform::Workspace& workspace() override { return sim_.workspace(); }
  platform::Bundle& mainBundle() override { return sim_.mainBundle(); }
  platform::KeyboardEvents& keyboardEvents() override { return sim_.keyboardEvents(); }
  platform::HotKeys& hotKeys() override { return sim_.hotKeys(); }
  platform::Accessibility& accessibility() override { return sim_.accessibility(); }
  platform::LoginItems& loginItems() override { return sim_.loginItems(); }
  platform::gtk::GLibDispatch& dispatch() override { return dispatch_; }
  platform::StandardOutput& standardOutput() override { return sim_.standardOutput(); }
  platform::InProcessFlutterEmbedding& flutter() override { return embedding_; }

 private:
  platform::sim::SimDesktop sim_;
  platform::gtk::GLibDispatch dispatch_{1};
  platform::gtk::GtkHostApplication application_;
  platform::gtk::GtkWindowFactory windows_;
  platform::gtk::GtkViewFactory views_;
  platform::gtk::GtkStatusBar statusBar_;
  platform::InProcessFlutterEmbedding embedding_;
};

// A tray on the executable's display, as a desktop's panel has one: started
// with the first call; true once it holds the tray selection.
inline bool startTray() {
  static const bool started = [] {
    auto& session = *gtkTestSession();
    session.spawn({"trayer", "--edge", "top", "--align", "right", "--widthtype", "request",
                   "--height", "24", "--SetDockType", "true", "--transparent", "false"});
    XProbe probe(session.display());
    return pumpUntil([&] { return probe.selectionOwner("_NET_SYSTEM_TRAY_S0") != 0; });
  }();
  return started;
}

// A control's target that records each action and the event it came with
// (keyDown for none: a click never is one).
class RecordingTarget : public platform::Responder {
 public:
  explicit RecordingTarget(platform::Application& application) : application_(application) {}
  bool performAction(const std::string& selector) override {
    selectors.push_back(selector);
    auto event = application_.currentEvent();
    events.push_back(event ? event->type : platform::EventType::keyDown);
    return true;
  }
  std::vector<std::string> selectors;
  std::vector<platform::EventType> events;

 private:
  platform::Application& application_;
};

// A test on the executable's X session.
class X11DesktopTest : public ::testing::Test {
 protected:
  XSession& session() { return *gtkTestSession(); }

  // Turns the main loop until `condition` holds; generous, so a loaded
  // machine does not fail the test.
  bool runUntil(const std::function<bool()>& condition, double seconds = 20) {
    return pumpUntil(condition, seconds);
  }

  // Runs xdotool on the session and waits for it, the main loop turning
  // meanwhile so this process answers the X server.
  void xdotool(std::vector<std::string> arguments) {
    arguments.insert(arguments.begin(), "xdotool");
    auto& process = session().spawn(arguments);
    std::optional<int> status;
    ASSERT_TRUE(runUntil([&] {
      status = process.waitForExit(0);
      return status.has_value();
    }));
    ASSERT_EQ(status, 0) << "see " << process.logFile();
  }

  HostOnX11Desktop desktop;
  XProbe probe{session().display()};
};

}  // namespace lumivane::test_support
