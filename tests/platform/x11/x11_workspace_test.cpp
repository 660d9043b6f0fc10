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

#include "platform/x11/x11_workspace.h"
#include "tests/platform/x11/gtk_test_display.h"

namespace lumivane {
namespace {

using platform::Notification;
using platform::NSApplicationActivateIgnoringOtherApps;
using platform::NSWorkspaceApplicationKey;
using platform::NSWorkspaceDidActivateApplicationNotification;
using platform::RunningApplication;
using platform::x11::X11Workspace;
using test_support::ChildProcess;
using test_support::DesktopProbe;
using test_support::GtkDisplayEnvironment;
using test_support::pumpUntil;

GtkDisplayEnvironment* const desktop =
    static_cast<GtkDisplayEnvironment*>(::testing::AddGlobalTestEnvironment(
        std::make_unique<GtkDisplayEnvironment>(test_support::XSession::Options{}).release()));

// The workspace as if it belonged to another program: this process's own
// windows report their class like anybody else's.
X11Workspace::Options asAnotherProgram() {
  return X11Workspace::Options{.hostBundleIdentifier = std::nullopt};
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

// Activating an application brings its most recently active window forward,
// not merely its topmost one; once the application has quit, activating it
// fails and changes nothing.
TEST_F(X11WorkspaceTest, ActivationBringsTheApplicationBackUntilItQuits) {
  // This process plays an application with two windows.
  auto first = showWindow("first");
  auto second = showWindow("second");
  const xcb_window_t firstWindow = xidOf(first.get());
  const xcb_window_t secondWindow = xidOf(second.get());
  auto [editor, editorWindow] = startEditor({"l3afpad"});
  ASSERT_NE(editorWindow, XCB_WINDOW_NONE);
  auto workspace = std::make_unique<X11Workspace>(asAnotherProgram());

  const Seen us{"Lumivane", ::getpid()};
  activateAsUser(secondWindow, *workspace, us);
  activateAsUser(firstWindow, *workspace, us);
  auto ourApplication = workspace->frontmostApplication();
  activateAsUser(editorWindow, *workspace, {"L3afpad", editor->pid()});
  auto l3afpad = workspace->frontmostApplication();
  ASSERT_TRUE(ourApplication && l3afpad);

  // The second window on top of the first, without becoming active, and
  // libwnck knowing it (it learns through the main loop, as the workspace
  // does).
  gdk_window_raise(gtk_widget_get_window(second.get()));
  ASSERT_TRUE(pumpUntil([&] {
    wnck_screen_force_update(wnckScreen);
    std::vector<gulong> order;
    for (GList* item = wnck_screen_get_windows_stacked(wnckScreen); item; item = item->next)
      order.push_back(wnck_window_get_xid(WNCK_WINDOW(item->data)));
    auto lower = std::find(order.begin(), order.end(), firstWindow);
    auto upper = std::find(order.begin(), order.end(), secondWindow);
    return lower != order.end() && upper != order.end() && upper > lower;
  }));
  ASSERT_EQ(probe.activeWindow(), editorWindow);

  EXPECT_TRUE(ourApplication->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
  EXPECT_TRUE(pumpUntil([&] { return probe.activeWindow() == firstWindow; }))
      << "active: " << probe.activeWindow();
  EXPECT_TRUE(l3afpad->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
  EXPECT_TRUE(pumpUntil([&] { return probe.activeWindow() == editorWindow; }));

  activateAsUser(firstWindow, *workspace, us);
  editor->terminate();
  ASSERT_TRUE(pumpUntil([&] { return probe.windowsOf(editor->pid()).empty(); }));
  EXPECT_FALSE(l3afpad->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
  EXPECT_EQ(probe.activeWindow(), firstWindow);
  // The handle keeps its answers after the process has gone.
  EXPECT_EQ(seen(l3afpad), (Seen{"L3afpad", editor->pid()}));

  // Nor can a handle activate anything once its workspace is gone.
  workspace.reset();
  EXPECT_FALSE(ourApplication->activateWithOptions(NSApplicationActivateIgnoringOtherApps));
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
