#include "platform/x11/x11_accessibility.h"

#include <gtest/gtest.h>
#include <gtk/gtk.h>

#include <string>
#include <thread>
#include <vector>

#include "tests/platform/x11/gtk_test_display.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace {

using platform::AXTrustedCheckOptions;
using platform::kAXTrustedCheckOptionPrompt;
using platform::x11::X11Accessibility;
using test_support::GdkTestDisplay;
using test_support::XSession;

const AXTrustedCheckOptions kPrompt{{kAXTrustedCheckOptionPrompt, true}};
const AXTrustedCheckOptions kNoPrompt{{kAXTrustedCheckOptionPrompt, false}};

// The message dialogs GTK shows on `display`.
std::vector<GtkWidget*> dialogsOn(GdkDisplay* display) {
  test_support::pump();
  std::vector<GtkWidget*> dialogs;
  GList* toplevels = gtk_window_list_toplevels();
  for (GList* item = toplevels; item; item = item->next) {
    auto* widget = GTK_WIDGET(item->data);
    if (GTK_IS_MESSAGE_DIALOG(widget) && gtk_widget_get_display(widget) == display &&
        gtk_widget_get_visible(widget)) {
      dialogs.push_back(widget);
    }
  }
  g_list_free(toplevels);
  return dialogs;
}

class X11AccessibilityTest : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(test_support::startGtkOnPrivateDesktop()); }
};

TEST_F(X11AccessibilityTest, TrustedWhereTheDisplayOffersXTest) {
  X11Accessibility accessibility(gdk_display_get_default());
  EXPECT_TRUE(accessibility.AXIsProcessTrustedWithOptions(kNoPrompt));
  EXPECT_TRUE(accessibility.AXIsProcessTrustedWithOptions(kPrompt));
  EXPECT_TRUE(accessibility.AXIsProcessTrustedWithOptions({}));
  EXPECT_TRUE(dialogsOn(gdk_display_get_default()).empty());
}

// Without XTEST nothing can be typed: untrusted, and asked to, the user is
// told why once, however often and from whichever thread the host asks.
TEST_F(X11AccessibilityTest, UntrustedWithoutXTestAndTellsTheUserOnce) {
  XSession session(XSession::Options{
      .windowManager = false, .sessionBus = false, .serverArguments = {"-extension", "XTEST"}});
  ASSERT_TRUE(session.ready()) << session.failure();
  GdkTestDisplay display(session.display());
  ASSERT_TRUE(display.get());
  X11Accessibility accessibility(display.get());

  EXPECT_FALSE(accessibility.AXIsProcessTrustedWithOptions(kNoPrompt));
  EXPECT_TRUE(dialogsOn(display.get()).empty()) << "prompted without being asked to";

  EXPECT_FALSE(accessibility.AXIsProcessTrustedWithOptions(kPrompt));
  std::thread worker([&] { EXPECT_FALSE(accessibility.AXIsProcessTrustedWithOptions(kPrompt)); });
  worker.join();
  EXPECT_FALSE(accessibility.AXIsProcessTrustedWithOptions(kPrompt));

  const auto dialogs = dialogsOn(display.get());
  ASSERT_EQ(dialogs.size(), 1u);
  gchar* text = nullptr;
  g_object_get(dialogs[0], "secondary-text", &text, nullptr);
  EXPECT_NE(std::string(text ? text : "").find("XTEST"), std::string::npos);
  g_free(text);
  for (GtkWidget* dialog : dialogs)
    gtk_widget_destroy(dialog);
}

}  // namespace
}  // namespace lumivane
