// A native Wayland window that reports every key it receives, for tests that
// type into other applications on a Wayland desktop.
//
//   wayland_key_recorder [--title TEXT] [--app-id ID]
//
// Opens one GTK window titled TEXT (default "key recorder") with the app id
// ID (default "key-recorder"), on GDK's Wayland backend. Writes one line per
// event to standard output, flushed at once, in the X11 key recorder's
// format:
//   ready                       once the window is mapped
//   press <keysym> <state>      a key press
//   release <keysym> <state>    a key release
//   mark <n>                    for "mark <n>" read on standard input, once
//                               every event the compositor sent before it
//                               came has been handled
// <keysym> is the key's unshifted keysym name ("c", "Control_L"), <state> the
// modifiers held when it came, joined by '+' ("Control+Shift"), or "none".

#include <gtk/gtk.h>

#include <cstdio>
#include <string>

namespace {

void say(const std::string& line) {
  std::printf("%s\n", line.c_str());
  std::fflush(stdout);
}

gboolean onKey(GtkWidget* widget, GdkEventKey* event, gpointer) {
  static constexpr const char* kNames[] = {"Shift", "Lock", "Control", "Mod1",
                                           "Mod2",  "Mod3", "Mod4",    "Mod5"};
  guint keyval = 0;
  gdk_keymap_translate_keyboard_state(gdk_keymap_get_for_display(gtk_widget_get_display(widget)),
                                      event->hardware_keycode, GdkModifierType(0), 0, &keyval,
                                      nullptr, nullptr, nullptr);
  std::string state;
  for (unsigned bit = 0; bit < 8; ++bit) {
    if (event->state & (1u << bit))
      state += (state.empty() ? "" : "+") + std::string(kNames[bit]);
  }
  const char* name = gdk_keyval_name(keyval);
  say(std::string(event->type == GDK_KEY_PRESS ? "press " : "release ") +
      (name ? name : "keycode-" + std::to_string(event->hardware_keycode)) + " " +
      (state.empty() ? "none" : state));
  return TRUE;
}

gboolean onInput(GIOChannel* channel, GIOCondition, gpointer) {
  gchar* line = nullptr;
  if (g_io_channel_read_line(channel, &line, nullptr, nullptr, nullptr) != G_IO_STATUS_NORMAL) {
    gtk_main_quit();
    return G_SOURCE_REMOVE;
  }
  const std::string mark = g_strstrip(line);
  g_free(line);
  // A round trip brings in what the compositor sent before; the events it
  // brought are handled before a task of low priority runs.
  gdk_display_sync(gdk_display_get_default());
  g_idle_add_full(
      G_PRIORITY_LOW,
      [](gpointer text) {
        say(*static_cast<std::string*>(text));
        return G_SOURCE_REMOVE;
      },
      new std::string(mark), [](gpointer text) { delete static_cast<std::string*>(text); });
  return G_SOURCE_CONTINUE;
}

}  // namespace

int main(int argc, char** argv) {
  std::string title = "key recorder";
  std::string appId = "key-recorder";
  for (int i = 1; i + 1 < argc; i += 2) {
    const std::string option = argv[i];
    (option == "--title" ? title : appId) = argv[i + 1];
  }
  // GTK 3 takes the app id from the program name.
  g_set_prgname(appId.c_str());
  gdk_set_allowed_backends("wayland");
  if (!gtk_init_check(nullptr, nullptr)) {
    std::fprintf(stderr, "wayland_key_recorder: no Wayland display\n");
    return 1;
  }
  GtkWidget* window = gtk_window_new(GTK_WINDOW_TOPLEVEL);
  gtk_window_set_title(GTK_WINDOW(window), title.c_str());
  gtk_window_set_default_size(GTK_WINDOW(window), 400, 300);
  g_signal_connect(window, "key-press-event", G_CALLBACK(onKey), nullptr);
  g_signal_connect(window, "key-release-event", G_CALLBACK(onKey), nullptr);
  g_signal_connect(window, "map-event", G_CALLBACK(+[](GtkWidget*, GdkEvent*, gpointer) {
                     say("ready");
                     return FALSE;
                   }),
                   nullptr);
  g_signal_connect(window, "destroy", G_CALLBACK(gtk_main_quit), nullptr);
  GIOChannel* input = g_io_channel_unix_new(0);
  g_io_add_watch(input, GIOCondition(G_IO_IN | G_IO_HUP), &onInput, nullptr);
  gtk_widget_show(window);
  gtk_main();
  return 0;
}
