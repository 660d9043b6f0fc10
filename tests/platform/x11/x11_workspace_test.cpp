// Before Xlib, whose macros (None) gtest's headers would otherwise meet.
#include <gtest/gtest.h>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <libwnck/libwnck.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "capture/key_chords.h"
#include "platform/x11/x11_keyboard_events.h"
#include "platform/x11/x11_workspace.h"
#include "tests/platform/x11/gtk_test_display.h"
#include "tests/platform/x11/x_test_user.h"

namespace lumivane {
namespace {

using platform::Notification;
using platform::NSApplicationActivateIgnoringOtherApps;
using platform::NSWorkspaceApplicationKey;
using platform::NSWorkspaceDidActivateApplicationNotification;
using platform::RunningApplication;
using platform::x11::X11KeyboardEvents;
using platform::x11::X11Workspace;
using test_support::ChildProcess;
using test_support::DesktopProbe;
using test_support::GtkDisplayEnvironment;
using test_support::KeyRecorder;
using test_support::pumpUntil;
using Lines = std::vector<std::string>;

GtkDisplayEnvironment* const desktop =
    static_cast<GtkDisplayEnvironment*>(::testing::AddGlobalTestEnvironment(
        std::make_unique<GtkDisplayEnvironment>(test_support::XSession::Options{}).release()));

// The workspace as if it belonged to another program: this process's own
// windows report their class like anybody else's.
X11Workspace::Options asAnotherProgram() {
  return X11Workspace::Options{.hostBundleIdentifier = std::nullopt, .activationOrder = nullptr};
}

struct Seen {
  std::optional<std::string> bundleIdentifier;
  pid_t pid = 0;
  bool operator==(const Seen&) const = default;
};

std::ostream& operator<<(std::ostream& out, const Seen& seen) {
  return out << seen.bundleIdentifier.value_or("(none)") << "/" << seen.pid;
}

Seen seen(const std::shared_ptr<RunningApplication>& app) {
  return app ? Seen{app->bundleIdentifier(), app->processIdentifier()} : Seen{};
}

struct GObjectUnref {
  void operator()(gpointer object) const { g_object_unref(object); }
};

struct GtkWidgetDestroy {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};

class X11WorkspaceTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(probe.ready()); }

  void TearDown() override {
    // Editors end before the next test, so that its editors start afresh
    // (featherpad would otherwise open its window in the old process).
    for (ChildProcess* editor : editors)
      editor->terminate();
    ASSERT_TRUE(pumpUntil([&] {
      for (ChildProcess* editor : editors) {
        if (!probe.windowsOf(editor->pid()).empty())
          return false;
      }
      return true;
    }));
  }

  // Starts `argv` and returns it with its first window, once managed.
  std::pair<ChildProcess*, xcb_window_t> startEditor(std::vector<std::string> argv) {
    ChildProcess& editor = desktop->session().spawn(std::move(argv));
    editors.push_back(&editor);
    return {&editor, windowOf(editor.pid())};
  }

  // A window of `pid` other than `known`, once the window manager has it.
  xcb_window_t windowOf(pid_t pid, xcb_window_t known = XCB_WINDOW_NONE) {
    xcb_window_t found = XCB_WINDOW_NONE;
    pumpUntil([&] {
      auto windows = probe.windowsOf(pid);
      windows.erase(known);
      found = windows.empty() ? xcb_window_t{XCB_WINDOW_NONE} : *windows.begin();
      return found != XCB_WINDOW_NONE;
    });
    return found;
  }

  // Activates `window` as the user would and waits until the window manager
  // says it is active and `also` holds. Editors activate their own windows
  // once they have mapped them, sometimes after the user's request has been
  // carried out; like a user, the test asks again after a while when the
  // window it wanted is not the active one.
  void activateAsUser(
      xcb_window_t window,
      const std::function<bool()>& also = [] { return true; }) {
    auto asked = std::chrono::steady_clock::now();
    probe.requestActivation(window);
    ASSERT_TRUE(pumpUntil([&] {
      if (probe.activeWindow() == window && also())
        return true;
      if (std::chrono::steady_clock::now() - asked > std::chrono::seconds(1)) {
        asked = std::chrono::steady_clock::now();
        probe.requestActivation(window);
      }
      return false;
    })) << "window "
        << window << " did not become active; the active one is " << probe.activeWindow();
  }

  // The same, until `workspace` sees `expected` in front and libwnck has
  // seen `window` active: it reads the active window when it gets round to
  // it, and would miss one the user left before then.
  void activateAsUser(xcb_window_t window, X11Workspace& workspace, const Seen& expected) {
    activateAsUser(window, [&] {
      return seen(workspace.frontmostApplication()) == expected && wnckActiveWindow() == window;
    });
    EXPECT_EQ(seen(workspace.frontmostApplication()), expected);
  }

  // The active window as libwnck knows it.
  gulong wnckActiveWindow() {
    wnck_screen_force_update(wnckScreen);
    WnckWindow* active = wnck_screen_get_active_window(wnckScreen);
    return active ? wnck_window_get_xid(active) : 0;
  }

  // A window of this process, shown and managed.
  std::unique_ptr<GtkWidget, GtkWidgetDestroy> showWindow(const char* title) {
    std::unique_ptr<GtkWidget, GtkWidgetDestroy> window(gtk_window_new(GTK_WINDOW_TOPLEVEL));
    gtk_window_set_title(GTK_WINDOW(window.get()), title);
    gtk_widget_show_all(window.get());
    const xcb_window_t id = xidOf(window.get());
    EXPECT_TRUE(pumpUntil([&] { return probe.windowsOf(::getpid()).count(id) == 1; }));
    return window;
  }

  // Puts `window` above every other without activating it, and waits until
  // the window manager's stacking order says so.
  void raise(xcb_window_t window) {
    auto& x = probe.connection();
    const std::uint32_t above = XCB_STACK_MODE_ABOVE;
    xcb_configure_window(x.get(), window, XCB_CONFIG_WINDOW_STACK_MODE, &above);
    xcb_flush(x.get());
    ASSERT_TRUE(pumpUntil([&] {
      auto stacking = x.getProperty(x.root(), x.atom("_NET_CLIENT_LIST_STACKING"));
      return stacking && !stacking->values32().empty() && stacking->values32().back() == window;
    }));
  }

  static xcb_window_t xidOf(GtkWidget* window) {
    return static_cast<xcb_window_t>(gdk_x11_window_get_xid(gtk_widget_get_window(window)));
  }

  DesktopProbe probe{desktop->session().display()};
  std::unique_ptr<WnckHandle, GObjectUnref> wnck{wnck_handle_new(WNCK_CLIENT_TYPE_APPLICATION)};
  WnckScreen* wnckScreen = wnck_handle_get_default_screen(wnck.get());
  std::vector<ChildProcess*> editors;
};

// The frontmost application is that of the active window, with its process
// and its class as bundle identifier, a GTK and a Qt editor alike. There is
// one announcement per change of application: none for another window of
// the same application, none for a moment with no active window, and one
// for coming back after another application.
TEST_F(X11WorkspaceTest, FollowsTheApplicationOfTheActiveWindow) {
  auto [gtkEditor, gtkWindow] = startEditor({"l3afpad"});
  ASSERT_NE(gtkWindow, XCB_WINDOW_NONE);
  activateAsUser(gtkWindow);
  const Seen l3afpad{"L3afpad", gtkEditor->pid()};

  X11Workspace workspace;
  std::vector<Seen> announced;
  int malformed = 0;
  workspace.notificationCenter().addObserver(
      NSWorkspaceDidActivateApplicationNotification, [&](const Notification& notification) {
        const auto* app = notification.userInfo
                              ? std::get_if<std::shared_ptr<RunningApplication>>(
                                    &notification.userInfo->at(NSWorkspaceApplicationKey))
                              : nullptr;
        if (app && *app)
          announced.push_back(seen(*app));
        else
          ++malformed;
      });
  activateAsUser(gtkWindow, workspace, l3afpad);

  // Minimised, the editor leaves no window active (there is no other); back,
  // it is the same application as before.
  probe.requestIconify(gtkWindow);
  ASSERT_TRUE(pumpUntil([&] { return !workspace.frontmostApplication(); }));
  activateAsUser(gtkWindow, workspace, l3afpad);

  // A new application comes to the front with its first window.
  auto [qtEditor, qtWindow] = startEditor({"featherpad"});
  ASSERT_NE(qtWindow, XCB_WINDOW_NONE);
  const Seen featherpad{"FeatherPad", qtEditor->pid()};
  activateAsUser(qtWindow, workspace, featherpad);
  ASSERT_TRUE(pumpUntil([&] { return !announced.empty(); }));
  EXPECT_EQ(announced.front(), featherpad);

  // Its second window (the running featherpad opens it), then its first
  // again: the same application throughout.
  desktop->session().spawn({"featherpad", "--win"});
  const xcb_window_t secondWindow = windowOf(qtEditor->pid(), qtWindow);
  ASSERT_NE(secondWindow, XCB_WINDOW_NONE);
  activateAsUser(secondWindow, workspace, featherpad);
  activateAsUser(qtWindow, workspace, featherpad);

  // Back to the first editor: news again.
  activateAsUser(gtkWindow, workspace, l3afpad);
  ASSERT_TRUE(pumpUntil([&] { return announced.size() >= 2; }));
  EXPECT_EQ(announced, (std::vector<Seen>{featherpad, l3afpad}));
  EXPECT_EQ(malformed, 0);
}

// The window of an application the host turns to, to copy its selection and
// to paste into it alike: the one the user used last, else (none used since
// the workspace started watching) the topmost. The application sets no
// process id on its windows: the server's record of its connection names its
// process, for the workspace and the keys alike. Once it has quit, activating
// it fails; once the workspace is gone, activating any application does.
TEST_F(X11WorkspaceTest, CopyAndPasteTurnToTheWindowTheUserLastUsed) {
  test_support::XTestUser user(desktop->session().display());
  KeyRecorder app(desktop->session(), user, {"--second-window", "--no-pid"});
  editors.push_back(&app.process());
  ASSERT_TRUE(app.ready());
  auto bystander = showWindow("bystander");
  const xcb_window_t elsewhere = xidOf(bystander.get());
  activateAsUser(elsewhere);
  // The first window, mapped below the second, goes on top.
  raise(app.window());
  auto order = std::make_shared<platform::x11::ActivationOrder>();
  auto workspace = std::make_unique<X11Workspace>(X11Workspace::Options{.activationOrder = order});
  X11KeyboardEvents keys(
      desktop->session().display(), [] { return 0u; }, {}, order);
  const Lines controlC{"press Control_L none", "press c Control", "release c Control",
                       "release Control_L Control"};

  ASSERT_TRUE(postCopyChord(keys, app.pid()));
  EXPECT_EQ(app.nextLines(4), controlC);

  // The user works in the second window, then elsewhere; the first is on
  // top again.
  activateAsUser(app.secondWindow(), *workspace, {"KeyRecorder", app.pid()});
  auto application = workspace->frontmostApplication();
  activateAsUser(elsewhere, *workspace, {"Lumivane", ::getpid()});
  auto host = workspace->frontmostApplication();
  raise(app.window());
  ASSERT_TRUE(postCopyChord(keys, app.pid()));
  Lines inSecond;
  for (const auto& line : controlC)
    inSecond.push_back(line + " second");
  EXPECT_EQ(app.nextLines(4), inSecond);

  raise(app.window());
  ASSERT_TRUE(application->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
  EXPECT_TRUE(pumpUntil([&] { return probe.activeWindow() == app.secondWindow(); }))
      << "active: " << probe.activeWindow();

  app.process().terminate();
  ASSERT_TRUE(pumpUntil([&] {
    return probe.managedWindows().value_or(std::set<xcb_window_t>{}).count(app.window()) == 0;
  }));
  EXPECT_FALSE(application->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
  workspace.reset();
  EXPECT_FALSE(host->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
}

// The host's own window reports the host's bundle identifier, so the host can
// tell itself apart: by its class, and by being this process whatever its
// class.
TEST_F(X11WorkspaceTest, TheHostsOwnWindowsReportTheHostsIdentifier) {
  auto panel = showWindow("Lumivane");
  X11Workspace workspace(asAnotherProgram());
  activateAsUser(xidOf(panel.get()), workspace, {"Lumivane", ::getpid()});
  EXPECT_EQ(workspace.frontmostApplication()->bundleIdentifier(),
            std::optional<std::string>(platform::x11::kHostBundleIdentifier));

  // A window of this process with a class of its own, and no process id
  // property: X-Resource names the process, and it is still the host's.
  auto& x = probe.connection();
  const xcb_window_t plain = xcb_generate_id(x.get());
  xcb_create_window(x.get(), XCB_COPY_FROM_PARENT, plain, x.root(), 0, 0, 300, 200, 0,
                    XCB_WINDOW_CLASS_INPUT_OUTPUT, XCB_COPY_FROM_PARENT, 0, nullptr);
  const char wmClass[] = "plainxcb\0PlainXcb";
  xcb_change_property(x.get(), XCB_PROP_MODE_REPLACE, plain, XCB_ATOM_WM_CLASS, XCB_ATOM_STRING, 8,
                      sizeof wmClass, wmClass);
  xcb_map_window(x.get(), plain);
  xcb_flush(x.get());
  ASSERT_TRUE(pumpUntil(
      [&] { return probe.managedWindows().value_or(std::set<xcb_window_t>{}).count(plain) == 1; }));
  ASSERT_FALSE(x.getProperty(plain, x.atom("_NET_WM_PID")));

  activateAsUser(plain, workspace, {"PlainXcb", ::getpid()});
  X11Workspace hostsWorkspace;
  EXPECT_EQ(seen(hostsWorkspace.frontmostApplication()), (Seen{"Lumivane", ::getpid()}));

  xcb_destroy_window(x.get(), plain);
  xcb_flush(x.get());
}

}  // namespace
}  // namespace lumivane
