#include "platform/gtk/glib_handles.h"
#include "platform/gtk/gtk_status_bar.h"

#include <gtest/gtest.h>
#include <signal.h>

#include <memory>
#include <string>
#include <vector>

#include "tests/platform/x11/host_on_x11.h"
#include "tests/support/recording_delegate.h"

// GtkStatusIcon's accessors are deprecated with it.
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"

namespace lumivane {
namespace platform::gtk {

class GtkStatusItemTestPeer {
 public:
  static StatusIconPresenter& presenter(StatusItem& item) {
    return *dynamic_cast<GtkStatusItem&>(item).presenter_;
  }
};

}  // namespace platform::gtk
namespace {

using platform::EventType;
using platform::x11::X11TrayIconPresenter;
using test_support::RecordingTarget;
using test_support::X11DesktopTest;

class X11StatusBarTest : public X11DesktopTest {
 protected:
  void SetUp() override { ASSERT_TRUE(test_support::startTray()) << "no tray"; }

  static X11TrayIconPresenter& trayIcon(const std::shared_ptr<platform::StatusItem>& item) {
    return dynamic_cast<X11TrayIconPresenter&>(
        platform::gtk::GtkStatusItemTestPeer::presenter(*item));
  }

  bool embedded(X11TrayIconPresenter& icon) {
    return icon.isEmbedded() && icon.xid() != 0 && probe.viewable(icon.xid());
  }

  // Clicks the icon until the click reaches it: a tray may still be moving a
  // newly embedded icon when the first click comes.
  void clickIcon(X11TrayIconPresenter& icon, const char* button) {
    int presses = 0;
    const gulong handler =
        g_signal_connect(icon.statusIcon(), "button-press-event",
                         G_CALLBACK(+[](GtkStatusIcon*, GdkEventButton*, gpointer count) {
                           ++*static_cast<int*>(count);
                           return FALSE;
                         }),
                         &presses);
    for (int attempt = 0; attempt < 5 && presses == 0; ++attempt) {
      xdotool({"mousemove", "--window", std::to_string(icon.xid()), "4", "4", "click", button});
      runUntil([&] { return presses > 0; }, 3);
    }
    g_signal_handler_disconnect(icon.statusIcon(), handler);
    ASSERT_GT(presses, 0) << "the click never reached the icon";
  }
};

TEST_F(X11StatusBarTest, TheIconEmbedsInTheTrayAsAThemedImageOrItsTitle) {
  auto& bar = desktop.statusBar();
  EXPECT_EQ(bar.imageWithSystemSymbolName("no.such.symbol", "Nothing"), nullptr);
  auto image = bar.imageWithSystemSymbolName("textbox", "Lumivane");
  ASSERT_NE(image, nullptr) << "the theme has an icon for text editing";
  image->setTemplate(true);
  auto themed = bar.statusItemWithLength(platform::NSSquareStatusItemLength);
  themed->button()->setImage(image);
  auto& themedIcon = trayIcon(themed);
  EXPECT_TRUE(runUntil([&] { return embedded(themedIcon); }));
  EXPECT_EQ(gtk_status_icon_get_storage_type(themedIcon.statusIcon()), GTK_IMAGE_ICON_NAME);
  // Lumivane's own icon where it is installed, the theme's editor otherwise.
  const std::string iconName = gtk_status_icon_get_icon_name(themedIcon.statusIcon());
  EXPECT_EQ(iconName, gtk_icon_theme_has_icon(gtk_icon_theme_get_default(), "lumivane")
                          ? "lumivane-symbolic"
                          : "accessories-text-editor-symbolic");
  platform::gtk::GCharPtr tooltip(gtk_status_icon_get_tooltip_text(themedIcon.statusIcon()));
  EXPECT_STREQ(tooltip.get(), "Lumivane");

  // Without an image the button's title is drawn as the icon.
  auto titled = bar.statusItemWithLength(platform::NSSquareStatusItemLength);
  titled->button()->setTitle("T");
  auto& titledIcon = trayIcon(titled);
  EXPECT_TRUE(runUntil([&] { return embedded(titledIcon); }));
  ASSERT_EQ(gtk_status_icon_get_storage_type(titledIcon.statusIcon()), GTK_IMAGE_PIXBUF);
  GdkPixbuf* drawn = gtk_status_icon_get_pixbuf(titledIcon.statusIcon());
  ASSERT_NE(drawn, nullptr);
  const guchar* pixels = gdk_pixbuf_get_pixels(drawn);
  int inked = 0;
  for (int y = 0; y < gdk_pixbuf_get_height(drawn); ++y) {
    for (int x = 0; x < gdk_pixbuf_get_width(drawn); ++x) {
      inked += pixels[y * gdk_pixbuf_get_rowstride(drawn) + x * 4 + 3] > 128 ? 1 : 0;
    }
  }
  EXPECT_GT(inked, 5) << "the letter is drawn";
}

// A click sends the button's action with the button that went up as the
// current event, and only for the buttons it was told to answer.
TEST_F(X11StatusBarTest, ClicksSendTheActionWithTheReleasedButton) {
  auto& bar = desktop.statusBar();
  auto item = bar.statusItemWithLength(platform::NSSquareStatusItemLength);
  auto button = item->button();
  button->setTitle("T");
  auto target = std::make_shared<RecordingTarget>(desktop.application());
  button->setAction("statusBarButtonClicked");
  button->setTarget(target);
  button->sendActionOn(platform::NSEventMaskLeftMouseUp | platform::NSEventMaskRightMouseUp);
  auto& icon = trayIcon(item);
  ASSERT_TRUE(runUntil([&] { return embedded(icon); }));

  clickIcon(icon, "1");
  ASSERT_TRUE(runUntil([&] { return target->events.size() == 1; }));
  clickIcon(icon, "3");
  ASSERT_TRUE(runUntil([&] { return target->events.size() == 2; }));
  EXPECT_EQ(target->events,
            (std::vector<EventType>{EventType::leftMouseUp, EventType::rightMouseUp}));
  EXPECT_EQ(target->selectors,
            (std::vector<std::string>{"statusBarButtonClicked", "statusBarButtonClicked"}));

  // Told to answer the left button only, a right click sends nothing: once
  // the left click after it has arrived, nothing came before it.
  button->sendActionOn(platform::NSEventMaskLeftMouseUp);
  clickIcon(icon, "3");
  clickIcon(icon, "1");
  ASSERT_TRUE(runUntil([&] {
    return target->events.size() >= 3 && target->events.back() == EventType::leftMouseUp;
  }));
  EXPECT_EQ(target->events.size(), 3u);
}

// Ending the host (here by a signal) while its menu is open closes the menu,
// sends nothing, and lets the loop stop instead of waiting on the menu.
TEST_F(X11StatusBarTest, EndingTheHostWithItsMenuOpenClosesTheMenu) {
  auto& bar = desktop.statusBar();
  auto& application = desktop.application();
  auto delegate = std::make_shared<test_support::RecordingDelegate>();
  application.setDelegate(delegate);
  auto item = bar.statusItemWithLength(platform::NSSquareStatusItemLength);
  item->button()->setTitle("T");
  auto& icon = trayIcon(item);
  ASSERT_TRUE(runUntil([&] { return embedded(icon); }));
  auto menu = bar.makeMenu();
  menu->addItem(bar.makeMenuItem("Quit", "terminate:", "q"));
  item->setMenu(menu);

  bool clickReturned = false;
  bool signalled = false;
  bool guardFired = false;
  platform::gtk::GSourcePtr driver;
  // Fails the test rather than leaving it waiting on a menu nobody closes.
  auto guard = platform::gtk::addMainTimeout(30000, [&] {
    guardFired = true;
    icon.closeMenu();
    return false;
  });
  delegate->onLaunch = [&] {
    driver = platform::gtk::addMainTimeout(10, [&] {
      GtkMenu* open = icon.openMenu();
      if (!signalled && open && gtk_widget_get_mapped(GTK_WIDGET(open))) {
        signalled = true;
        ::raise(SIGTERM);
      }
      return true;
    });
    item->button()->performClick();  // Returns once the menu has closed.
    clickReturned = true;
  };
  EXPECT_EQ(application.run(), 0);
  EXPECT_TRUE(signalled);
  EXPECT_FALSE(guardFired) << "the menu stayed open after the host ended";
  EXPECT_TRUE(clickReturned);
  EXPECT_TRUE(application.isTerminating());
  EXPECT_EQ(icon.openMenu(), nullptr);
  EXPECT_TRUE(delegate->actions.empty()) << "nothing was chosen";
}

}  // namespace
}  // namespace lumivane
