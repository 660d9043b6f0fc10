#include "platform/gtk/gtk_window.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cmath>
#include <memory>
#include <string>
#include <vector>

#include "shell/app_delegate.h"
#include "shell/main_flutter_window.h"
#include "tests/platform/x11/host_on_x11.h"
#include "tests/support/recording_delegate.h"

namespace lumivane {
namespace {

using platform::CGRectMake;
using platform::EventType;
using platform::gtk::GtkHostView;
using platform::gtk::GtkVisualEffectView;
using platform::gtk::GtkWindowCore;
using test_support::RecordingDelegate;
using test_support::X11DesktopTest;

constexpr std::uint64_t kTitledClosable =
    platform::NSWindowStyleMaskTitled | platform::NSWindowStyleMaskClosable;

struct Pixel {
  int red = 0;
  int green = 0;
  int blue = 0;
};

// What the screen shows at a point of a window, read back from the server.
std::optional<Pixel> pixelAt(GtkWidget* window, int x, int y) {
  GdkWindow* gdkWindow = gtk_widget_get_window(window);
  if (!gdkWindow)
    return std::nullopt;
  platform::gtk::GObjectPtr<GdkPixbuf> pixbuf(gdk_pixbuf_get_from_window(gdkWindow, x, y, 1, 1));
  if (!pixbuf)
    return std::nullopt;
  const guchar* p = gdk_pixbuf_get_pixels(pixbuf.get());
  return Pixel{p[0], p[1], p[2]};
}

bool near(const Pixel& a, const Pixel& b, int tolerance = 3) {
  return std::abs(a.red - b.red) <= tolerance && std::abs(a.green - b.green) <= tolerance &&
         std::abs(a.blue - b.blue) <= tolerance;
}

// The colour the theme gives a sidebar in a window that has (or lacks) the
// focus.
Pixel sidebarColour(bool focused) {
  auto widget = platform::gtk::retainObject(gtk_drawing_area_new());
  GtkStyleContext* style = gtk_widget_get_style_context(widget.get());
  gtk_style_context_add_class(style, "sidebar");
  GdkRGBA* colour = nullptr;
  gtk_style_context_get(style, focused ? GTK_STATE_FLAG_NORMAL : GTK_STATE_FLAG_BACKDROP,
                        GTK_STYLE_PROPERTY_BACKGROUND_COLOR, &colour, nullptr);
  Pixel pixel{static_cast<int>(std::lround(colour->red * 255)),
              static_cast<int>(std::lround(colour->green * 255)),
              static_cast<int>(std::lround(colour->blue * 255))};
  gdk_rgba_free(colour);
  return pixel;
}

class X11WindowTest : public X11DesktopTest {
 protected:
  void TearDown() override {
    if (editor)
      probe.destroyWindow(editor);
  }

  // The host's own panel, set up and shown as the host does at launch, while
  // the user works in another application's window.
  GtkWindowCore& showHostPanel() {
    editor = probe.createWindow(40, 40, 300, 200);
    EXPECT_TRUE(runUntil([&] {
      probe.requestActivation(editor);
      return probe.activeWindow() == editor;
    }));
    // The user has just typed there: a window manager that prevents focus
    // stealing keeps the focus there when the panel maps.
    if (auto now = probe.serverTime(editor))
      probe.setUserTime(editor, *now);
    hostDelegate = std::make_shared<AppDelegate>(desktop);
    desktop.application().setDelegate(hostDelegate);
    hostDelegate->setupFloatingPanel();
    auto* panel = GtkWindowCore::from(hostDelegate->panel().get());
    EXPECT_NE(panel, nullptr);
    hostDelegate->showPanel();
    EXPECT_TRUE(runUntil([&] { return isFrontAndFocused(*panel); }));
    return *panel;
  }

  bool isFrontAndFocused(GtkWindowCore& window) {
    const auto xid = window.handle();
    return xid != 0 && probe.viewable(xid) && probe.activeWindow() == xid;
  }

  std::shared_ptr<AppDelegate> hostDelegate;
  xcb_window_t editor = XCB_WINDOW_NONE;
};

// Everything a user sees of the panel the host shows at launch.
TEST_F(X11WindowTest, TheHostsPanelFloatsFocusedCentredOnEveryDesktop) {
  auto& panel = showHostPanel();
  const auto xid = panel.handle();
  ASSERT_TRUE(hostDelegate->panel()->isVisible());
  EXPECT_EQ(desktop.windows().visiblePanelWindow(), xid);

  EXPECT_EQ(probe.text(xid, "_NET_WM_NAME"), "Lumivane");
  EXPECT_EQ(probe.text(xid, "WM_CLASS"), std::string("lumivane\0Lumivane\0", 18));
  EXPECT_EQ(probe.cardinal(xid, "_NET_WM_PID"), static_cast<std::uint32_t>(::getpid()));
  EXPECT_TRUE(probe.hasAtom(xid, "_NET_WM_WINDOW_TYPE", "_NET_WM_WINDOW_TYPE_UTILITY"));
  EXPECT_TRUE(probe.hasAtom(xid, "_NET_WM_STATE", "_NET_WM_STATE_ABOVE"));
  EXPECT_TRUE(probe.hasAtom(xid, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_TASKBAR"));
  EXPECT_TRUE(probe.hasAtom(xid, "_NET_WM_STATE", "_NET_WM_STATE_SKIP_PAGER"));
  EXPECT_EQ(probe.cardinal(xid, "_NET_WM_DESKTOP"), 0xFFFFFFFFu);

  // 600 by 600 of content, and the window manager's frame around it centred
  // across the screen with a third of the spare height above (once the
  // window manager has told the frame it draws).
  GdkRectangle area{};
  gdk_monitor_get_workarea(gdk_display_get_monitor(gdk_display_get_default(), 0), &area);
  int outerX = 0, outerY = 0, outerWidth = 0, outerHeight = 0;
  auto centred = [&] {
    const auto content = probe.rootGeometry(xid);
    const auto extents = probe.values32(xid, "_NET_FRAME_EXTENTS");
    if (!content || content->width != 600 || content->height != 600 || extents.size() != 4)
      return false;
    outerX = content->x - static_cast<int>(extents[0]);
    outerY = content->y - static_cast<int>(extents[2]);
    outerWidth = 600 + static_cast<int>(extents[0] + extents[1]);
    outerHeight = 600 + static_cast<int>(extents[2] + extents[3]);
    return std::abs(outerX - area.x - (area.width - outerWidth) / 2.0) <= 1.0 &&
           std::abs(outerY - area.y - (area.height - outerHeight) / 3.0) <= 1.0;
  };
  EXPECT_TRUE(runUntil(centred)) << "frame at " << outerX << "," << outerY << " in " << area.width
                                 << "x" << area.height;

  // The frame the host reads is the one on screen, in bottom-left-origin
  // points.
  const auto frame = hostDelegate->panel()->frame();
  EXPECT_EQ(frame.size.width, outerWidth);
  EXPECT_EQ(frame.size.height, outerHeight);
  EXPECT_EQ(frame.origin.x, outerX);
  EXPECT_EQ(frame.origin.y,
            gdk_window_get_height(gdk_get_default_root_window()) - (outerY + outerHeight));

  hostDelegate->panel()->orderOut();
  EXPECT_FALSE(hostDelegate->panel()->isVisible());
  EXPECT_EQ(desktop.windows().visiblePanelWindow(), 0u);
  ASSERT_TRUE(runUntil([&] { return !probe.viewable(xid); }));

  // Shown again, it is in front with the keyboard again.
  hostDelegate->showPanel();
  EXPECT_TRUE(runUntil([&] { return isFrontAndFocused(panel); }));
}

// Whatever asks the main window to come forward, it never maps; its empty
// frame does no harm.
TEST_F(X11WindowTest, TheMainWindowNeverComesOnScreen) {
  MainFlutterWindow mainWindow(desktop.windows(), CGRectMake(335, 390, 800, 600),
                               kTitledClosable | platform::NSWindowStyleMaskResizable,
                               platform::BackingStoreType::buffered, false);
  mainWindow.awakeFromNib();
  mainWindow.makeKeyAndOrderFront();
  auto direct = desktop.windows().makeWindow(CGRectMake(0, 0, 800, 600), kTitledClosable,
                                             platform::BackingStoreType::buffered, false);
  direct->setFrame(CGRectMake(0, 0, 0, 0), true);
  direct->makeKeyAndOrderFront();
  direct->setIsVisible(true);
  direct->center();
  int maps = 0;
  for (const auto& window : desktop.application().windows()->windows()) {
    g_signal_connect(window->gtkWindow(), "map-event",
                     G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer count) {
                       ++*static_cast<int*>(count);
                       return FALSE;
                     }),
                     &maps);
  }
  // A window shown after them maps after anything they asked for would have.
  auto marker = desktop.windows().makeWindow(CGRectMake(0, 0, 50, 50), kTitledClosable,
                                             platform::BackingStoreType::buffered, false);
  marker->makeKeyAndOrderFront();
  ASSERT_TRUE(
      runUntil([&] { return probe.viewable(GtkWindowCore::from(marker.get())->handle()); }));
  EXPECT_EQ(maps, 0);
  EXPECT_FALSE(mainWindow.isVisible());
  EXPECT_FALSE(direct->isVisible());
  EXPECT_EQ(mainWindow.frame(), CGRectMake(0, 0, 0, 0));
}

// The close button hides the window without destroying it, and the
// application asks its delegate whether to end when none is left on screen.
TEST_F(X11WindowTest, TheCloseButtonHidesTheWindowAndAsksWhetherToEnd) {
  auto delegate = std::make_shared<RecordingDelegate>();
  desktop.application().setDelegate(delegate);
  auto panel = desktop.windows().makePanel(CGRectMake(100, 100, 300, 200), kTitledClosable,
                                           platform::BackingStoreType::buffered, false);
  auto* core = GtkWindowCore::from(panel.get());
  panel->makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return isFrontAndFocused(*core); }));

  probe.sendDeleteWindow(core->handle());
  ASSERT_TRUE(runUntil([&] { return !probe.viewable(core->handle()); }));
  EXPECT_FALSE(panel->isVisible());
  EXPECT_EQ(delegate->lastWindowQuestions, 1);
  EXPECT_FALSE(desktop.application().isTerminating()) << "the delegate said no";

  panel->makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return isFrontAndFocused(*core); })) << "closing did not destroy it";
  delegate->terminateAfterLastWindowClosed = true;
  probe.sendDeleteWindow(core->handle());
  ASSERT_TRUE(runUntil([&] { return desktop.application().isTerminating(); }));
}

// A title that is not UTF-8 is shown with replacement characters, not lost.
TEST_F(X11WindowTest, ATitleThatIsNotUtf8IsShownRepaired) {
  auto window = desktop.windows().makeWindow(CGRectMake(0, 0, 120, 80), kTitledClosable,
                                             platform::BackingStoreType::buffered, false);
  window->setTitle("Notes \xff\xfe draft");
  window->makeKeyAndOrderFront();
  const auto xid = GtkWindowCore::from(window.get())->handle();
  ASSERT_TRUE(runUntil([&] { return probe.viewable(xid); }));
  EXPECT_EQ(probe.text(xid, "_NET_WM_NAME"), "Notes \xEF\xBF\xBD\xEF\xBF\xBD draft");
}

// When another application becomes active, a window that hides on
// deactivation goes and the panel stays; activating the host brings the
// window back.
TEST_F(X11WindowTest, OnlyWindowsThatHideOnDeactivationGoWhenAnotherApplicationIsActive) {
  auto& panel = showHostPanel();
  auto hiding = desktop.windows().makeWindow(CGRectMake(50, 50, 200, 150), kTitledClosable,
                                             platform::BackingStoreType::buffered, false);
  hiding->setHidesOnDeactivate(true);
  auto* hidingCore = GtkWindowCore::from(hiding.get());
  hiding->makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return isFrontAndFocused(*hidingCore); }));

  const auto other = probe.createWindow(700, 100, 200, 200);
  ASSERT_TRUE(runUntil([&] {
    probe.requestActivation(other);
    return probe.activeWindow() == other;
  }));
  EXPECT_TRUE(
      runUntil([&] { return !hiding->isVisible() && !probe.viewable(hidingCore->handle()); }));
  EXPECT_TRUE(hostDelegate->panel()->isVisible());
  EXPECT_TRUE(probe.viewable(panel.handle()));

  desktop.application().activateIgnoringOtherApps(true);
  EXPECT_TRUE(
      runUntil([&] { return hiding->isVisible() && probe.viewable(hidingCore->handle()); }));
  EXPECT_TRUE(runUntil([&] { return probe.activeWindow() != other; }));
  probe.destroyWindow(other);
}

// A drag the interface starts from a press moves the window with the pointer,
// by the window manager, until the button goes up.
TEST_F(X11WindowTest, AWindowDragFollowsThePointer) {
  auto& panel = showHostPanel();
  const auto start = probe.rootGeometry(panel.handle());
  ASSERT_TRUE(start);
  struct Press {
    platform::Application& application;
    platform::Panel& panel;
    std::optional<platform::Event> event;
  } press{desktop.application(), *hostDelegate->panel(), std::nullopt};
  g_signal_connect(panel.gtkWindow(), "button-press-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) {
                     auto* p = static_cast<Press*>(data);
                     p->event = p->application.currentEvent();
                     if (p->event)
                       p->panel.performWindowDragWithEvent(*p->event);
                     return TRUE;
                   }),
                   &press);
  xdotool({"mousemove", std::to_string(start->x + 300), std::to_string(start->y + 300), "mousedown",
           "1"});
  ASSERT_TRUE(runUntil([&] { return press.event.has_value(); }));
  EXPECT_EQ(press.event->type, EventType::leftMouseDown);
  for (int step = 0; step < 8; ++step)
    xdotool({"mousemove_relative", "--", "10", "6"});
  xdotool({"mouseup", "1"});
  // The pointer went 80 right and 48 down; the window follows it, if perhaps
  // not from its very first step.
  EXPECT_TRUE(runUntil([&] {
    auto now = probe.rootGeometry(panel.handle());
    return now && now->x - start->x >= 40 && now->y - start->y >= 24;
  })) << "the window did not move";
  const auto end = probe.rootGeometry(panel.handle());
  EXPECT_LE(end->x - start->x, 80);
  EXPECT_LE(end->y - start->y, 48);
  g_signal_handlers_disconnect_by_data(panel.gtkWindow(), &press);
}

// Button and key events of the desktop are the current event while GTK
// handles them, with the modifier keys by role.
TEST_F(X11WindowTest, DesktopEventsAreCurrentWhileHandled) {
  auto window = desktop.windows().makeWindow(CGRectMake(100, 100, 200, 160), kTitledClosable,
                                             platform::BackingStoreType::buffered, false);
  auto* core = GtkWindowCore::from(window.get());
  window->makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return isFrontAndFocused(*core); }));
  struct Seen {
    platform::Application& application;
    std::vector<platform::Event> events;
  } seen{desktop.application(), {}};
  g_signal_connect(core->gtkWindow(), "button-release-event",
                   G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer data) {
                     auto* s = static_cast<Seen*>(data);
                     if (auto event = s->application.currentEvent())
                       s->events.push_back(*event);
                     return FALSE;
                   }),
                   &seen);
  const auto xid = std::to_string(core->handle());
  xdotool(
      {"mousemove", "--window", xid, "30", "40", "keydown", "ctrl", "click", "1", "keyup", "ctrl"});
  xdotool({"click", "3"});
  ASSERT_TRUE(runUntil(
      [&] { return !seen.events.empty() && seen.events.back().type == EventType::rightMouseUp; }));
  const auto& left = seen.events.front();
  EXPECT_EQ(left.type, EventType::leftMouseUp);
  EXPECT_EQ(left.modifierFlags, platform::NSEventModifierFlagCommand);
  EXPECT_EQ(left.locationInWindow.x, 30);
  EXPECT_EQ(left.locationInWindow.y, 160 - 40);
  EXPECT_EQ(seen.events.back().modifierFlags, 0u);
  EXPECT_FALSE(desktop.application().currentEvent()) << "none outside event handling";
  g_signal_handlers_disconnect_by_data(core->gtkWindow(), &seen);
}

class ControllerOver final : public platform::ViewController {
 public:
  explicit ControllerOver(std::shared_ptr<platform::View> view) : view_(std::move(view)) {}
  std::shared_ptr<platform::View> view() override { return view_; }

 private:
  std::shared_ptr<platform::View> view_;
};

// A subview keeps its own size at the top-left corner except along the edges
// constraints pin to its superview; a view cannot hold itself or an ancestor.
TEST_F(X11WindowTest, SubviewsFillOnlyAlongPinnedEdgesAndNeverHoldTheirAncestors) {
  auto& views = desktop.views();
  auto window = desktop.windows().makeWindow(CGRectMake(0, 0, 300, 200),
                                             kTitledClosable | platform::NSWindowStyleMaskResizable,
                                             platform::BackingStoreType::buffered, false);
  auto root = views.makeView();
  window->setContentViewController(std::make_shared<ControllerOver>(root));
  auto child = views.makeVisualEffectView();
  root->addSubview(child, platform::WindowOrderingMode::above, nullptr);
  GtkWidget* childWidget = GtkHostView::from(child)->widget();
  gtk_widget_set_size_request(childWidget, 40, 30);
  views.activateConstraints({
      child->topAnchor()->constraintEqualToAnchor(root->topAnchor()),
      child->bottomAnchor()->constraintEqualToAnchor(root->bottomAnchor()),
      // Different edges: no meaning here, and no harm.
      child->leadingAnchor()->constraintEqualToAnchor(root->trailingAnchor()),
  });
  window->makeKeyAndOrderFront();
  auto allocated = [&](int width, int height) {
    GtkAllocation a{};
    gtk_widget_get_allocation(childWidget, &a);
    return a.x == 0 && a.y == 0 && a.width == width && a.height == height;
  };
  EXPECT_TRUE(runUntil([&] { return allocated(40, 200); })) << "fills top to bottom only";
  views.activateConstraints({
      child->leadingAnchor()->constraintEqualToAnchor(root->leadingAnchor()),
      child->trailingAnchor()->constraintEqualToAnchor(root->trailingAnchor()),
  });
  EXPECT_TRUE(runUntil([&] { return allocated(300, 200); })) << "pinned on all four edges";

  child->addSubview(root, platform::WindowOrderingMode::above, nullptr);
  root->addSubview(root, platform::WindowOrderingMode::below, nullptr);
  EXPECT_TRUE(GtkHostView::from(child)->subviews().empty());
  EXPECT_EQ(GtkHostView::from(root)->subviews().size(), 1u);
  EXPECT_EQ(gtk_widget_get_parent(GtkHostView::from(root)->widget()),
            GTK_WIDGET(GtkWindowCore::from(window.get())->gtkWindow()));
}

// The backdrop fills the panel's content and follows it when it changes size;
// the interface's own widget is drawn in front of it.
TEST_F(X11WindowTest, TheBackdropFillsTheContentBehindTheInterface) {
  auto& panel = showHostPanel();
  auto content = GtkHostView::from(hostDelegate->viewController()->view());
  ASSERT_NE(content, nullptr);
  ASSERT_EQ(content->subviews().size(), 1u);
  auto backdrop = std::dynamic_pointer_cast<GtkVisualEffectView>(content->subviews().front());
  ASSERT_NE(backdrop, nullptr);
  auto fills = [&](int width, int height) {
    GtkAllocation a{};
    gtk_widget_get_allocation(gtk_bin_get_child(GTK_BIN(backdrop->view()->widget())), &a);
    return a.x == 0 && a.y == 0 && a.width == width && a.height == height;
  };
  EXPECT_TRUE(runUntil([&] { return fills(600, 600); }));
  hostDelegate->panel()->setContentSize({420, 310});
  EXPECT_TRUE(runUntil([&] { return fills(420, 310); }));

  // An interface that paints its left half red.
  GtkWidget* interface = gtk_drawing_area_new();
  g_signal_connect(interface, "draw", G_CALLBACK(+[](GtkWidget* w, cairo_t* cr, gpointer) {
                     cairo_set_source_rgb(cr, 1, 0, 0);
                     cairo_rectangle(cr, 0, 0, gtk_widget_get_allocated_width(w) / 2.0,
                                     gtk_widget_get_allocated_height(w));
                     cairo_fill(cr);
                     return FALSE;
                   }),
                   nullptr);
  content->addInterfaceWidget(interface);
  const Pixel red{255, 0, 0};
  const Pixel sidebar = sidebarColour(/*focused=*/true);
  GtkWidget* window = GTK_WIDGET(panel.gtkWindow());
  EXPECT_TRUE(runUntil([&] {
    auto left = pixelAt(window, 100, 150);
    auto right = pixelAt(window, 320, 150);
    return left && right && near(*left, red) && near(*right, sidebar);
  })) << "red in front on the left, the sidebar backdrop on the right";

  // The host asks for the active look: it stays when another window has the
  // focus.
  auto other = desktop.windows().makeWindow(CGRectMake(0, 0, 100, 100), kTitledClosable,
                                            platform::BackingStoreType::buffered, false);
  other->makeKeyAndOrderFront();
  ASSERT_TRUE(runUntil([&] { return isFrontAndFocused(*GtkWindowCore::from(other.get())); }));
  ASSERT_TRUE(runUntil([&] { return !gtk_window_is_active(panel.gtkWindow()); }));
  EXPECT_TRUE(runUntil([&] {
    auto right = pixelAt(window, 320, 150);
    return right && near(*right, sidebar);
  }));
}

}  // namespace
}  // namespace lumivane
