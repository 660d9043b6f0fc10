// Before Xlib, whose macros (None) gtest's headers would otherwise meet.
#include <gtest/gtest.h>

#include <gdk/gdkx.h>
#include <gtk/gtk.h>

#include <memory>

#include "platform/x11/x11_workspace.h"
#include "tests/platform/x11/gtk_test_display.h"

namespace lumivane {
namespace {

using platform::Notification;
using platform::NSWorkspaceDidActivateApplicationNotification;
using platform::x11::X11Workspace;
using test_support::DesktopProbe;
using test_support::GtkDisplayEnvironment;
using test_support::pumpUntil;

GtkDisplayEnvironment* const desktop = static_cast<GtkDisplayEnvironment*>(
    ::testing::AddGlobalTestEnvironment(std::make_unique<GtkDisplayEnvironment>(
                                            test_support::XSession::Options{.windowManager = false})
                                            .release()));

struct GtkWidgetDestroy {
  void operator()(GtkWidget* widget) const { gtk_widget_destroy(widget); }
};

// Without a window manager no window is ever active: nothing is in front,
// nothing is announced, even when a window has the keyboard focus.
TEST(X11WorkspaceWithoutWindowManagerTest, HasNoFrontmostApplication) {
  DesktopProbe probe(desktop->session().display());
  ASSERT_TRUE(probe.ready());
  X11Workspace workspace;
  ASSERT_TRUE(workspace.connected());
  int announcements = 0;
  workspace.notificationCenter().addObserver(NSWorkspaceDidActivateApplicationNotification,
                                             [&](const Notification&) { ++announcements; });

  std::unique_ptr<GtkWidget, GtkWidgetDestroy> focused(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_widget_show_all(focused.get());
  ASSERT_TRUE(pumpUntil([&] { return gtk_widget_get_mapped(focused.get()); }));
  const auto window =
      static_cast<xcb_window_t>(gdk_x11_window_get_xid(gtk_widget_get_window(focused.get())));
  auto& x = probe.connection();
  ASSERT_TRUE(pumpUntil([&] {
    xcb_set_input_focus(x.get(), XCB_INPUT_FOCUS_POINTER_ROOT, window, XCB_CURRENT_TIME);
    platform::x11::XcbReply<xcb_get_input_focus_reply_t> focus(
        xcb_get_input_focus_reply(x.get(), xcb_get_input_focus(x.get()), nullptr));
    return focus && focus->focus == window;
  }));
  // A request to activate reaches nobody.
  probe.requestActivation(window);

  // A window mapped after all that: once GTK has seen it mapped, the main
  // loop has carried whatever came before.
  std::unique_ptr<GtkWidget, GtkWidgetDestroy> sentinel(gtk_window_new(GTK_WINDOW_TOPLEVEL));
  gtk_widget_show_all(sentinel.get());
  ASSERT_TRUE(pumpUntil([&] { return gtk_widget_get_mapped(sentinel.get()); }));

  EXPECT_FALSE(workspace.frontmostApplication());
  EXPECT_EQ(announcements, 0);
}

}  // namespace
}  // namespace lumivane
