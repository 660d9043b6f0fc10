#include "platform/x11/x11_accessibility.h"

#include <X11/Xlib-xcb.h>
#include <gdk/gdkx.h>
#include <gtk/gtk.h>
#include <xcb/xtest.h>

namespace lumivane::platform::x11 {
namespace {

void showPrompt(GdkDisplay* display) {
  if (!display)
    display = gdk_display_get_default();
  if (!display || gdk_display_is_closed(display))
    return;
  GtkWidget* dialog =
      gtk_message_dialog_new(nullptr, GtkDialogFlags{}, GTK_MESSAGE_WARNING, GTK_BUTTONS_CLOSE,
                             "%s", X11Accessibility::kPromptTitle);
  gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s",
                                           X11Accessibility::kPromptText);
  gtk_window_set_title(GTK_WINDOW(dialog), "Lumivane");
  gtk_window_set_screen(GTK_WINDOW(dialog), gdk_display_get_default_screen(display));
  gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
  // The dialog owns itself: closing it is all the user has to do.
  g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
  gtk_widget_show(dialog);
}

}  // namespace

X11Accessibility::X11Accessibility(GdkDisplay* display)
    : display_(display ? GDK_DISPLAY(g_object_ref(display)) : nullptr) {
  if (display && GDK_IS_X11_DISPLAY(display) && !gdk_display_is_closed(display)) {
    const xcb_query_extension_reply_t* xtest = xcb_get_extension_data(
        XGetXCBConnection(gdk_x11_display_get_xdisplay(display)), &xcb_test_id);
    offersXTest_ = xtest && xtest->present;
  }
}

X11Accessibility::~X11Accessibility() = default;

bool X11Accessibility::AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) {
  if (offersXTest_)
    return true;
  auto it = options.find(kAXTrustedCheckOptionPrompt);
  if (it != options.end() && it->second && !prompted_.exchange(true))
    prompt();
  return false;
}

void X11Accessibility::prompt() {
  // GTK belongs to the main thread, and the question may come from a worker:
  // the main loop shows the dialog on its next turn, whoever asked.
  prompt_ = gtk::addMainTimeout(
      0,
      [this] {
        showPrompt(display_.get());
        return false;
      },
      G_PRIORITY_DEFAULT_IDLE);
}

}  // namespace lumivane::platform::x11
