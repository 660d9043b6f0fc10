#include "interface/gtk_interface.h"

#include <gspell/gspell.h>

#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "interface/host_channels.h"
#include "interface/hot_key_chord.h"
#include "platform/gtk/panel_embedding.h"

namespace lumivane::interface {
namespace {

using platform::gtk::GCharPtr;
using platform::gtk::GObjectPtr;

bool isEnter(guint keyval) {
  return keyval == GDK_KEY_Return || keyval == GDK_KEY_KP_Enter || keyval == GDK_KEY_ISO_Enter;
}

bool onlyControlHeld(guint state) {
  return (state & gtk_accelerator_get_default_mod_mask()) == GDK_CONTROL_MASK;
}

// A signal handler connected for as long as this lives. It keeps the object
// it is connected to, so that disconnecting never meets a freed one; an
// object destroyed meanwhile has dropped its handlers already.
class SignalConnection {
 public:
  // `after`: after the object's own handler.
  SignalConnection(gpointer instance,
                   const char* signal,
                   GCallback callback,
                   gpointer data,
                   bool after = false)
      : instance_(static_cast<GObject*>(g_object_ref(instance))),
        id_(g_signal_connect_data(instance,
                                  signal,
                                  callback,
                                  data,
                                  nullptr,
                                  after ? G_CONNECT_AFTER : GConnectFlags{})) {}
  ~SignalConnection() {
    if (instance_ && id_ != 0 && g_signal_handler_is_connected(instance_.get(), id_))
      g_signal_handler_disconnect(instance_.get(), id_);
  }
  SignalConnection(SignalConnection&&) noexcept = default;
  SignalConnection& operator=(SignalConnection&&) = delete;

 private:
  GObjectPtr<GObject> instance_;
  gulong id_ = 0;
};

// The keyboard, taken for a window while a shortcut is recorded: chords that
// other applications, the window manager or the host itself have grabbed
// reach the recorder instead of setting those off.
class KeyboardGrab {
 public:
  explicit KeyboardGrab(GdkWindow* window) {
    GdkSeat* seat = gdk_display_get_default_seat(gdk_window_get_display(window));
    if (seat && gdk_seat_grab(seat, window, GDK_SEAT_CAPABILITY_KEYBOARD, FALSE, nullptr, nullptr,
                              nullptr, nullptr) == GDK_GRAB_SUCCESS) {
      seat_.reset(static_cast<GdkSeat*>(g_object_ref(seat)));
    }
  }
  ~KeyboardGrab() {
    if (seat_)
      gdk_seat_ungrab(seat_.get());
  }
  KeyboardGrab(const KeyboardGrab&) = delete;
  KeyboardGrab& operator=(const KeyboardGrab&) = delete;

 private:
  GObjectPtr<GdkSeat> seat_;
};

GObjectPtr<GtkWidget> made(GtkWidget* widget, const char* name = nullptr) {
  if (name)
    gtk_widget_set_name(widget, name);
  return platform::gtk::retainObject(widget);
}

GtkWidget* captionLabel(const char* text) {
  GtkWidget* label = gtk_label_new(text);
  gtk_label_set_xalign(GTK_LABEL(label), 0);
  return label;
}

constexpr char kStyle[] =
    "label#status.problem { color: #c01c28; }\n"
    "label#status.problem:backdrop { color: #a51d2d; }\n";

}  // namespace

// The widgets and what they show. GTK handlers get it as their user data;
// the channels hold it weakly. The widgets stay referenced for as long as it
// lives, so that an answer arriving after the panel's window went never meets
// a freed widget.
struct GtkInterface::State : InterfaceView, std::enable_shared_from_this<State> {
  void build(const std::optional<std::string>& commandToBind);
  void listen();
  void detach();

  // --- What the channels show ---------------------------------------------------

  void showSelection(const std::string& text) override {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView.get()));
    gtk_text_buffer_set_text(buffer, text.data(), static_cast<gint>(text.size()));
    GtkTextIter start;
    gtk_text_buffer_get_start_iter(buffer, &start);
    gtk_text_buffer_place_cursor(buffer, &start);
    gtk_text_view_scroll_to_iter(GTK_TEXT_VIEW(textView.get()), &start, 0, FALSE, 0, 0);
    gtk_widget_grab_focus(textView.get());
  }

  void showPermission(Permission permission) override {
    const char* text = "Checking the permission to copy and paste…";
    switch (permission) {
      case Permission::checking:
        break;
      case Permission::allowed:
        text = "Can copy and paste in other applications";
        break;
      case Permission::denied:
        text = "Not allowed to copy and paste in other applications";
        break;
      case Permission::unknown:
        text = "Permission to copy and paste not known";
        break;
    }
    gtk_label_set_text(GTK_LABEL(permissionLabel.get()), text);
    gtk_widget_set_visible(allowButton.get(),
                           permission == Permission::denied || permission == Permission::unknown);
  }

  // GTK may tell of the change only once this has returned (while it holds
  // notifications back), so the handler knows it by the value, not by a flag
  // set meanwhile.
  void showLaunchAtLogin(bool enabled) override {
    switchShows = enabled;
    gtk_switch_set_active(GTK_SWITCH(launchSwitch.get()), enabled);
  }

  void showHotKey(HotKeyChord chord) override {
    hotKey = chord;
    showHotKeyButton();
  }

  void say(const std::string& text, bool problem) override {
    statusText = text;
    gtk_label_set_text(GTK_LABEL(statusLabel.get()), text.c_str());
    GtkStyleContext* style = gtk_widget_get_style_context(statusLabel.get());
    if (problem) {
      gtk_style_context_add_class(style, "problem");
    } else {
      gtk_style_context_remove_class(style, "problem");
    }
    // Told while the panel is hidden (the host hides it to ask for the
    // permission, or to paste), it waits to be seen the next time it shows.
    statusSeen = gtk_widget_get_mapped(root.get());
  }
  void sayAlso(const std::string& text) override {
    say(statusText.empty() ? text : statusText + "\n" + text, true);
  }
  void clearStatus() { say({}, false); }

  // --- The panel shown and hidden -----------------------------------------------

  void shown() {
    if (statusSeen)
      clearStatus();
    statusSeen = true;
    channels->panelShown();
    gtk_widget_grab_focus(textView.get());
  }

  void hidden() { stopRecording(); }

  // --- The text -----------------------------------------------------------------

  void insert() {
    GtkTextBuffer* buffer = gtk_text_view_get_buffer(GTK_TEXT_VIEW(textView.get()));
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer, &start, &end);
    GCharPtr text(gtk_text_buffer_get_text(buffer, &start, &end, TRUE));
    channels->pasteText(text.get());
  }

  void close() {
    GtkWidget* toplevel = gtk_widget_get_toplevel(root.get());
    if (GTK_IS_WINDOW(toplevel) && gtk_widget_is_toplevel(toplevel))
      gtk_window_close(GTK_WINDOW(toplevel));
  }

  // --- Launch at login ----------------------------------------------------------

  void launchSwitched() {
    const bool wanted = gtk_switch_get_active(GTK_SWITCH(launchSwitch.get()));
    if (wanted == switchShows)
      return;
    switchShows = wanted;
    channels->setLaunchAtLogin(wanted);
  }

  // --- The shortcut -------------------------------------------------------------

  void showHotKeyButton() {
    gtk_button_set_label(GTK_BUTTON(hotKeyButton.get()),
                         recording ? "Press the new shortcut…" : chordName(hotKey).c_str());
  }

  void startRecording() {
    GtkWidget* toplevel = gtk_widget_get_toplevel(root.get());
    if (!GTK_IS_WINDOW(toplevel) || !gtk_widget_is_toplevel(toplevel))
      return;
    recording = true;
    showHotKeyButton();
    say("Press the keys of the new shortcut, with Control, Alt or Super; Escape cancels.", false);
    // Every key goes to the recorder, whichever widget has the focus.
    recordingKeys.emplace(toplevel, "key-press-event",
                          G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) {
                            auto self = static_cast<State*>(data)->shared_from_this();
                            return self->recordKey(event);
                          }),
                          this);
    if (GdkWindow* window = gtk_widget_get_window(toplevel))
      grab = std::make_unique<KeyboardGrab>(window);
  }

  void stopRecording() {
    if (!recording)
      return;
    recording = false;
    grab.reset();
    recordingKeys.reset();
    showHotKeyButton();
  }

  gboolean recordKey(const GdkEventKey* event) {
    if (event->keyval == GDK_KEY_Escape) {
      stopRecording();
      clearStatus();
      return TRUE;
    }
    // The key by what it types alone, so that Shift or a lock does not make
    // another key of it; in the first layout too, for layouts whose letters
    // no US key types.
    GdkKeymap* keymap = gdk_keymap_get_for_display(gtk_widget_get_display(root.get()));
    const auto alone = [&](gint group) {
      guint keysym = 0;
      if (!gdk_keymap_translate_keyboard_state(keymap, event->hardware_keycode, GdkModifierType(0),
                                               group, &keysym, nullptr, nullptr, nullptr)) {
        return 0u;
      }
      return keysym;
    };
    const auto chord = chordForKeyPress({alone(event->group), event->keyval, alone(0)},
                                        static_cast<GdkModifierType>(event->state));
    if (const auto* refusal = std::get_if<ChordRefusal>(&chord)) {
      if (*refusal == ChordRefusal::noCommandModifier) {
        say("A shortcut needs Control, Alt or Super; press the keys again.", true);
      } else if (*refusal == ChordRefusal::unusableKey) {
        say("That key cannot be part of a shortcut; press another.", true);
      }
      return TRUE;
    }
    stopRecording();
    clearStatus();
    channels->setHotKey(std::get<HotKeyChord>(chord));
    return TRUE;
  }

  // --- Spelling -----------------------------------------------------------------

  void showSpellingLanguage() {
    const GspellLanguage* language = gspell_checker_get_language(checker.get());
    gtk_label_set_text(GTK_LABEL(spellingLabel.get()),
                       language
                           ? gspell_language_get_name(language)
                           : "Not checked: no spelling dictionary is installed for any language");
  }

  std::shared_ptr<HostChannels> channels;

  GObjectPtr<GtkWidget> root;
  GObjectPtr<GtkWidget> dragArea;
  GObjectPtr<GtkWidget> permissionLabel;
  GObjectPtr<GtkWidget> allowButton;
  GObjectPtr<GtkWidget> textView;
  GObjectPtr<GtkWidget> statusLabel;
  GObjectPtr<GtkWidget> insertButton;
  GObjectPtr<GtkWidget> launchSwitch;
  GObjectPtr<GtkWidget> hotKeyButton;
  GObjectPtr<GtkWidget> spellingLabel;
  GObjectPtr<GspellChecker> checker;
  GObjectPtr<GtkCssProvider> css;

  // Disconnected before the widgets are released (declared after them).
  std::vector<SignalConnection> connections;
  std::optional<SignalConnection> recordingKeys;
  std::unique_ptr<KeyboardGrab> grab;

  std::string statusText;
  bool statusSeen = true;
  HotKeyChord hotKey = kStartupHotKey;
  bool recording = false;
  // What the switch shows: what the host last said, or what the user asked
  // for since.
  bool switchShows = false;
};

void GtkInterface::State::build(const std::optional<std::string>& commandToBind) {
  root = made(gtk_box_new(GTK_ORIENTATION_VERTICAL, 10), "lumivane-interface");
  for (auto set : {gtk_widget_set_margin_top, gtk_widget_set_margin_bottom,
                   gtk_widget_set_margin_start, gtk_widget_set_margin_end}) {
    set(root.get(), 14);
  }

  // The header: title and permission; dragging it moves the panel.
  GtkWidget* header = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 8);
  dragArea = made(gtk_event_box_new(), "header");
  gtk_event_box_set_visible_window(GTK_EVENT_BOX(dragArea.get()), FALSE);
  gtk_event_box_set_above_child(GTK_EVENT_BOX(dragArea.get()), TRUE);
  gtk_widget_add_events(dragArea.get(), GDK_BUTTON_PRESS_MASK);
  gtk_widget_set_hexpand(dragArea.get(), TRUE);
  GtkWidget* titles = gtk_box_new(GTK_ORIENTATION_VERTICAL, 2);
  GtkWidget* title = captionLabel(nullptr);
  gtk_label_set_markup(GTK_LABEL(title), "<b>Lumivane</b>");
  permissionLabel = made(captionLabel(nullptr), "permission");
  gtk_label_set_ellipsize(GTK_LABEL(permissionLabel.get()), PANGO_ELLIPSIZE_END);
  gtk_style_context_add_class(gtk_widget_get_style_context(permissionLabel.get()), "dim-label");
  gtk_box_pack_start(GTK_BOX(titles), title, FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(titles), permissionLabel.get(), FALSE, FALSE, 0);
  gtk_container_add(GTK_CONTAINER(dragArea.get()), titles);
  allowButton = made(gtk_button_new_with_label("Allow…"), "request-permission");
  gtk_widget_set_tooltip_text(allowButton.get(),
                              "Ask for permission to copy and paste in other applications");
  gtk_widget_set_valign(allowButton.get(), GTK_ALIGN_CENTER);
  gtk_widget_set_no_show_all(allowButton.get(), TRUE);
  gtk_box_pack_start(GTK_BOX(header), dragArea.get(), TRUE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(header), allowButton.get(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(root.get()), header, FALSE, FALSE, 0);

  // The text, checked for spelling as it is edited.
  GtkWidget* scroller = gtk_scrolled_window_new(nullptr, nullptr);
  gtk_scrolled_window_set_shadow_type(GTK_SCROLLED_WINDOW(scroller), GTK_SHADOW_IN);
  gtk_scrolled_window_set_policy(GTK_SCROLLED_WINDOW(scroller), GTK_POLICY_NEVER,
                                 GTK_POLICY_AUTOMATIC);
  gtk_widget_set_vexpand(scroller, TRUE);
  textView = made(gtk_text_view_new(), "text");
  GtkTextView* text = GTK_TEXT_VIEW(textView.get());
  gtk_text_view_set_wrap_mode(text, GTK_WRAP_WORD_CHAR);
  gtk_text_view_set_accepts_tab(text, FALSE);
  gtk_text_view_set_left_margin(text, 8);
  gtk_text_view_set_right_margin(text, 8);
  gtk_text_view_set_top_margin(text, 6);
  gtk_text_view_set_bottom_margin(text, 6);
  gtk_container_add(GTK_CONTAINER(scroller), textView.get());
  gtk_box_pack_start(GTK_BOX(root.get()), scroller, TRUE, TRUE, 0);
  // Inline checking and the suggestions of the context menu, in the language
  // of the user's environment (or the nearest one installed).
  gspell_text_view_basic_setup(gspell_text_view_get_from_gtk_text_view(text));
  GspellTextBuffer* spellBuffer =
      gspell_text_buffer_get_from_gtk_text_buffer(gtk_text_view_get_buffer(text));
  checker.reset(GSPELL_CHECKER(g_object_ref(gspell_text_buffer_get_spell_checker(spellBuffer))));

  // The status line and Insert.
  GtkWidget* actions = gtk_box_new(GTK_ORIENTATION_HORIZONTAL, 12);
  statusLabel = made(captionLabel(nullptr), "status");
  gtk_label_set_line_wrap(GTK_LABEL(statusLabel.get()), TRUE);
  gtk_label_set_line_wrap_mode(GTK_LABEL(statusLabel.get()), PANGO_WRAP_WORD_CHAR);
  gtk_label_set_max_width_chars(GTK_LABEL(statusLabel.get()), 60);
  gtk_widget_set_hexpand(statusLabel.get(), TRUE);
  css.reset(gtk_css_provider_new());
  gtk_css_provider_load_from_data(css.get(), kStyle, -1, nullptr);
  gtk_style_context_add_provider(gtk_widget_get_style_context(statusLabel.get()),
                                 GTK_STYLE_PROVIDER(css.get()),
                                 GTK_STYLE_PROVIDER_PRIORITY_APPLICATION);
  insertButton = made(gtk_button_new_with_mnemonic("_Insert"), "insert");
  gtk_widget_set_tooltip_text(
      insertButton.get(),
      "Paste the text into the application you came from (Alt+I or Control+Enter)");
  gtk_style_context_add_class(gtk_widget_get_style_context(insertButton.get()), "suggested-action");
  gtk_widget_set_valign(insertButton.get(), GTK_ALIGN_START);
  gtk_box_pack_start(GTK_BOX(actions), statusLabel.get(), TRUE, TRUE, 0);
  gtk_box_pack_end(GTK_BOX(actions), insertButton.get(), FALSE, FALSE, 0);
  gtk_box_pack_start(GTK_BOX(root.get()), actions, FALSE, FALSE, 0);

  // Settings.
  GtkWidget* expander = gtk_expander_new("Settings");
  gtk_widget_set_name(expander, "settings");
  GtkWidget* grid = gtk_grid_new();
  gtk_grid_set_row_spacing(GTK_GRID(grid), 8);
  gtk_grid_set_column_spacing(GTK_GRID(grid), 16);
  gtk_widget_set_margin_top(grid, 8);
  launchSwitch = made(gtk_switch_new(), "launch-at-login");
  gtk_widget_set_halign(launchSwitch.get(), GTK_ALIGN_START);
  hotKeyButton = made(gtk_button_new_with_label(""), "hot-key");
  gtk_widget_set_tooltip_text(hotKeyButton.get(),
                              "The shortcut that shows Lumivane: click, then press the new keys");
  gtk_widget_set_halign(hotKeyButton.get(), GTK_ALIGN_START);
  spellingLabel = made(captionLabel(nullptr), "spelling");
  gtk_label_set_line_wrap(GTK_LABEL(spellingLabel.get()), TRUE);
  gtk_grid_attach(GTK_GRID(grid), captionLabel("Start at login"), 0, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), launchSwitch.get(), 1, 0, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), captionLabel("Shortcut"), 0, 1, 1, 1);
  if (commandToBind) {
    // No shortcut of Lumivane's own works on such a desktop, so there is
    // none to change: the user's binding of the command is the hot key.
    const std::string text =
        "Your desktop lets no application take a shortcut of its own: bind "
        "\u201c" +
        *commandToBind + "\u201d to a key in its keyboard settings.";
    GtkWidget* note = captionLabel(text.c_str());
    gtk_widget_set_name(note, "hot-key-command");
    // Not selectable: selecting in the panel must not take PRIMARY (below).
    gtk_label_set_line_wrap(GTK_LABEL(note), TRUE);
    gtk_grid_attach(GTK_GRID(grid), note, 1, 1, 1, 1);
  } else {
    gtk_grid_attach(GTK_GRID(grid), hotKeyButton.get(), 1, 1, 1, 1);
  }
  gtk_grid_attach(GTK_GRID(grid), captionLabel("Spelling"), 0, 2, 1, 1);
  gtk_grid_attach(GTK_GRID(grid), spellingLabel.get(), 1, 2, 1, 1);
  gtk_container_add(GTK_CONTAINER(expander), grid);
  gtk_box_pack_start(GTK_BOX(root.get()), expander, FALSE, FALSE, 0);

  showPermission(Permission::checking);
  showHotKeyButton();
  showSpellingLanguage();
  gtk_widget_show_all(root.get());
}

void GtkInterface::State::listen() {
  auto connect = [this](GtkWidget* widget, const char* signal, GCallback callback) {
    connections.emplace_back(widget, signal, callback, this);
  };
  // Each handler keeps the state for as long as it runs: the host it calls
  // may end the interface meanwhile.
  connect(root.get(), "map", G_CALLBACK(+[](GtkWidget*, gpointer data) {
            static_cast<State*>(data)->shared_from_this()->shown();
          }));
  // Selecting in the panel must not take the X primary selection: the
  // application the text came from would lose its own selection with it (GTK
  // and other toolkits deselect when another client takes it), and the text
  // inserted later would land beside the words it was meant to replace. The
  // text view claims it when realized and lets it go when unrealized.
  connections.emplace_back(textView.get(), "realize", G_CALLBACK(+[](GtkWidget* view, gpointer) {
                             gtk_text_buffer_remove_selection_clipboard(
                                 gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)),
                                 gtk_widget_get_clipboard(view, GDK_SELECTION_PRIMARY));
                           }),
                           this, /*after=*/true);
  connections.emplace_back(textView.get(), "unrealize", G_CALLBACK(+[](GtkWidget* view, gpointer) {
                             gtk_text_buffer_add_selection_clipboard(
                                 gtk_text_view_get_buffer(GTK_TEXT_VIEW(view)),
                                 gtk_widget_get_clipboard(view, GDK_SELECTION_PRIMARY));
                           }),
                           this);
  connect(root.get(), "unmap", G_CALLBACK(+[](GtkWidget*, gpointer data) {
            static_cast<State*>(data)->shared_from_this()->hidden();
          }));
  // What no widget inside took: Escape, and Control+Enter outside the text.
  connect(root.get(), "key-press-event",
          G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
            auto self = static_cast<State*>(data)->shared_from_this();
            if (event->keyval == GDK_KEY_Escape) {
              self->close();
              return TRUE;
            }
            if (isEnter(event->keyval) && onlyControlHeld(event->state)) {
              self->insert();
              return TRUE;
            }
            return FALSE;
          }));
  // Before the text view makes a line break of it.
  connect(textView.get(), "key-press-event",
          G_CALLBACK(+[](GtkWidget*, GdkEventKey* event, gpointer data) -> gboolean {
            if (!isEnter(event->keyval) || !onlyControlHeld(event->state))
              return FALSE;
            static_cast<State*>(data)->shared_from_this()->insert();
            return TRUE;
          }));
  // The host starts the window manager's move with the press being handled,
  // so the call is made before this handler returns.
  connect(dragArea.get(), "button-press-event",
          G_CALLBACK(+[](GtkWidget*, GdkEventButton* event, gpointer data) -> gboolean {
            if (event->type != GDK_BUTTON_PRESS || event->button != GDK_BUTTON_PRIMARY)
              return FALSE;
            static_cast<State*>(data)->shared_from_this()->channels->startWindowDrag();
            return TRUE;
          }));
  connect(allowButton.get(), "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            static_cast<State*>(data)->shared_from_this()->channels->requestPermission();
          }));
  connect(insertButton.get(), "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            static_cast<State*>(data)->shared_from_this()->insert();
          }));
  connect(launchSwitch.get(), "notify::active",
          G_CALLBACK(+[](GObject*, GParamSpec*, gpointer data) {
            static_cast<State*>(data)->shared_from_this()->launchSwitched();
          }));
  connect(hotKeyButton.get(), "clicked", G_CALLBACK(+[](GtkButton*, gpointer data) {
            auto self = static_cast<State*>(data)->shared_from_this();
            if (self->recording) {
              self->stopRecording();
              self->clearStatus();
            } else {
              self->startRecording();
            }
          }));
  connections.emplace_back(checker.get(), "notify::language",
                           G_CALLBACK(+[](GObject*, GParamSpec*, gpointer data) {
                             static_cast<State*>(data)->showSpellingLanguage();
                           }),
                           this);

  channels->listen();
}

void GtkInterface::State::detach() {
  channels->detach();
  stopRecording();
  connections.clear();
  gtk_widget_hide(root.get());
}

GtkInterface::GtkInterface(std::shared_ptr<platform::BinaryMessenger> interfaceMessenger,
                           std::optional<std::string> commandToBind)
    : state_(std::make_shared<State>()) {
  state_->channels = std::make_shared<HostChannels>(interfaceMessenger, state_);
  state_->build(commandToBind);
  state_->listen();
}

GtkInterface::~GtkInterface() {
  state_->detach();
}

GtkWidget* GtkInterface::widget() const {
  return state_->root.get();
}

platform::InterfaceRunner gtkInterfaceRunner(platform::Desktop& desktop) {
  return [&desktop](platform::FlutterViewController& controller)
             -> std::unique_ptr<platform::RunningInterface> {
    auto running =
        std::make_unique<GtkInterface>(controller.engine().interfaceMessenger(),
                                       platform::gtk::hotKeyCommandToBind(desktop.hotKeys()));
    if (!platform::gtk::embedInterfaceWidget(controller.view(), running->widget()))
      return nullptr;
    return running;
  };
}

}  // namespace lumivane::interface
