#include "platform/x11/x11_accessibility.h"

#include <gtk/gtk.h>
#include <xcb/xtest.h>

#include <utility>

namespace lumivane::platform::x11 {
namespace {

// The prompt's display, held until the main loop has shown it.
struct PromptRequest {
  GdkDisplay* display = nullptr;
  ~PromptRequest() {
    if (display)
      g_object_unref(display);
  }
};

gboolean showPrompt(gpointer data) {
  auto* request = static_cast<PromptRequest*>(data);
  GdkDisplay* display = request->display ? request->display : gdk_display_get_default();
  if (!display || gdk_display_is_closed(display))
    return G_SOURCE_REMOVE;
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
  return G_SOURCE_REMOVE;
}

void forgetPrompt(gpointer data) {
  std::unique_ptr<PromptRequest> request(static_cast<PromptRequest*>(data));
}

}  // namespace

void X11Accessibility::DisplayUnref::operator()(GdkDisplay* display) const {
  g_object_unref(display);
}

X11Accessibility::X11Accessibility(std::string displayName, GdkDisplay* promptDisplay)
    : displayName_(std::move(displayName)),
      promptDisplay_(promptDisplay ? GDK_DISPLAY(g_object_ref(promptDisplay)) : nullptr) {}

X11Accessibility::~X11Accessibility() = default;

bool X11Accessibility::AXIsProcessTrustedWithOptions(const AXTrustedCheckOptions& options) {
  if (offersXTest())
    return true;
  auto it = options.find(kAXTrustedCheckOptionPrompt);
  if (it != options.end() && it->second && !prompted_.exchange(true))
    prompt();
  return false;
}

bool X11Accessibility::offersXTest() {
  std::lock_guard lock(mutex_);
  if (!connection_ || !connection_->alive())
    connection_ = XcbConnection::open(displayName_, nullptr);
  if (!connection_)
    return false;
  const xcb_query_extension_reply_t* xtest =
      xcb_get_extension_data(connection_->get(), &xcb_test_id);
  return xtest && xtest->present;
}

void X11Accessibility::prompt() {
  // GTK belongs to the main thread, and the question may come from a worker:
  // the main loop shows the dialog on its next turn, whoever asked.
  auto request = std::make_unique<PromptRequest>();
  if (promptDisplay_)
    request->display = GDK_DISPLAY(g_object_ref(promptDisplay_.get()));
  g_idle_add_full(G_PRIORITY_DEFAULT_IDLE, &showPrompt, request.release(), &forgetPrompt);
}

}  // namespace lumivane::platform::x11
