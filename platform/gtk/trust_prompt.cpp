#include "platform/gtk/trust_prompt.h"

#include <gtk/gtk.h>

namespace lumivane::platform::gtk {

TrustPrompt::TrustPrompt(GdkDisplay* display, std::string title, std::string text)
    : display_(display ? GDK_DISPLAY(g_object_ref(display)) : nullptr),
      title_(std::move(title)),
      text_(std::move(text)) {}

TrustPrompt::~TrustPrompt() = default;

void TrustPrompt::showOnce() {
  if (shown_.exchange(true))
    return;
  // GTK belongs to the main thread, and the question may come from a worker:
  // the main loop shows the dialog on its next turn, whoever asked.
  showing_ = addMainTimeout(
      0,
      [this] {
        GdkDisplay* display = display_ ? display_.get() : gdk_display_get_default();
        if (!display || gdk_display_is_closed(display))
          return false;
        GtkWidget* dialog = gtk_message_dialog_new(nullptr, GtkDialogFlags{}, GTK_MESSAGE_WARNING,
                                                   GTK_BUTTONS_CLOSE, "%s", title_.c_str());
        gtk_message_dialog_format_secondary_text(GTK_MESSAGE_DIALOG(dialog), "%s", text_.c_str());
        gtk_window_set_title(GTK_WINDOW(dialog), "Lumivane");
        gtk_window_set_screen(GTK_WINDOW(dialog), gdk_display_get_default_screen(display));
        gtk_window_set_keep_above(GTK_WINDOW(dialog), TRUE);
        // The dialog owns itself: closing it is all the user has to do.
        g_signal_connect(dialog, "response", G_CALLBACK(gtk_widget_destroy), nullptr);
        gtk_widget_show(dialog);
        return false;
      },
      G_PRIORITY_DEFAULT_IDLE);
}

}  // namespace lumivane::platform::gtk
