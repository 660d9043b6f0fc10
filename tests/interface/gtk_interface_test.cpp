// The GTK interface in a panel of the X11 backend, with GTK in the test
// process on a private display. The test plays the host's side of both
// channels: handlers on the engine's host messenger decode each call with the
// real codec and answer with a value, an error, not implemented, bytes that
// are no reply, or later.
#include "interface/gtk_interface.h"

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <variant>
#include <vector>

#include "headless/interfaces.h"
#include "platform/flutter/standard_codec.h"
#include "platform/sim/sim_desktop.h"
#include "tests/platform/x11/host_on_x11.h"

namespace lumivane::interface {
namespace {

using platform::EncodableMap;
using platform::EncodableValue;
using platform::FlutterError;
using platform::FlutterReply;
using platform::StandardMethodCodec;
using Bytes = std::vector<std::uint8_t>;

constexpr char kSelection[] = "com.lumivane.app/selection";
constexpr char kSystem[] = "com.lumivane.app/system";

// Answer bytes that are no reply envelope: a string that claims five bytes
// and brings one.
struct Malformed {};
// Kept, to be answered when the test says.
struct Deferred {};
using Answer = std::variant<FlutterReply, Malformed, Deferred>;

struct ReceivedCall {
  std::string channel;
  std::string method;
  EncodableValue arguments;
  // What GTK was handling when the call came (GDK_NOTHING: no event).
  GdkEventType during = GDK_NOTHING;
  guint button = 0;
};

// The host's side of the channels, played by the test.
class HostSide {
 public:
  explicit HostSide(std::shared_ptr<platform::BinaryMessenger> messenger)
      : messenger_(std::move(messenger)) {
    for (const char* channel : {kSelection, kSystem}) {
      messenger_->setMessageHandler(
          channel, [this, channel](const Bytes& message, platform::BinaryReply reply) {
            receive(channel, message, std::move(reply));
          });
    }
    answers["checkPermission"] = FlutterReply(EncodableValue(true));
    answers["getLaunchAtLogin"] = FlutterReply(EncodableValue(false));
  }
  ~HostSide() {
    for (const char* channel : {kSelection, kSystem})
      messenger_->setMessageHandler(channel, {});
  }

  // How each method is answered; success with null when not set.
  std::map<std::string, Answer> answers;
  // Runs as each call arrives, before it is answered.
  std::function<void(const ReceivedCall&)> onCall;
  std::vector<ReceivedCall> calls;
  std::vector<platform::BinaryReply> deferred;

  std::vector<ReceivedCall> callsOf(const std::string& method) const {
    std::vector<ReceivedCall> found;
    for (const auto& call : calls) {
      if (call.method == method)
        found.push_back(call);
    }
    return found;
  }

  // "updateSelection", as the host sends it: no answer wanted.
  void sendSelection(const std::string& text) {
    messenger_->send(kSelection,
                     codec().encodeMethodCall(
                         platform::FlutterMethodCall("updateSelection", EncodableValue(text))),
                     {});
  }

  // A call to the interface that wants an answer; absent when none came.
  std::optional<FlutterReply> ask(const char* channel,
                                  const std::string& method,
                                  EncodableValue arguments) {
    std::optional<FlutterReply> answer;
    messenger_->send(channel,
                     codec().encodeMethodCall(platform::FlutterMethodCall(method, arguments)),
                     [&](const Bytes& reply) { answer = codec().decodeEnvelope(reply); });
    return answer;
  }

 private:
  static const StandardMethodCodec& codec() { return StandardMethodCodec::sharedInstance(); }

  void receive(const char* channel, const Bytes& message, platform::BinaryReply reply) {
    auto call = codec().decodeMethodCall(message);
    ASSERT_TRUE(call) << "the interface sent bytes that are no method call";
    ReceivedCall received{channel, call->method(), call->arguments()};
    if (GdkEvent* event = gtk_get_current_event()) {
      received.during = event->type;
      gdk_event_get_button(event, &received.button);
      gdk_event_free(event);
    }
    calls.push_back(received);
    if (onCall)
      onCall(received);
    auto found = answers.find(received.method);
    const Answer answer =
        found != answers.end() ? found->second : Answer(FlutterReply(EncodableValue()));
    if (const auto* value = std::get_if<FlutterReply>(&answer)) {
      reply(codec().encodeReply(*value));
    } else if (std::holds_alternative<Malformed>(answer)) {
      reply(Bytes{0x00, 0x07, 0x05, 'a'});
    } else {
      deferred.push_back(std::move(reply));
    }
  }

  std::shared_ptr<platform::BinaryMessenger> messenger_;
};

// The three ways a call can fail, and the words the status line gives each.
// Every call reads its answer through the same words: pasteText meets all
// three, the others one.
struct Failure {
  const char* kind;
  Answer answer;
  const char* told;
};
const Failure kFailures[] = {
    {"error", FlutterReply(FlutterError("SOME_ERROR", "The disk is on fire")),
     "The disk is on fire."},
    {"not implemented", FlutterReply(platform::FlutterMethodNotImplemented),
     "this version of Lumivane does not offer it."},
    {"malformed", Malformed{}, "Lumivane's answer could not be read."},
};

GtkWidget* findNamed(GtkWidget* widget, const std::string& name) {
  if (name == gtk_widget_get_name(widget))
    return widget;
  if (!GTK_IS_CONTAINER(widget))
    return nullptr;
  struct Search {
    const std::string& name;
    GtkWidget* found = nullptr;
  } search{name};
  gtk_container_forall(
      GTK_CONTAINER(widget),
      [](GtkWidget* child, gpointer data) {
        auto* search = static_cast<Search*>(data);
        if (!search->found)
          search->found = findNamed(child, search->name);
      },
      &search);
  return search.found;
}

GdkWindow* windowOf(GdkWindow* window, GtkWidget* widget) {
  gpointer owner = nullptr;
  gdk_window_get_user_data(window, &owner);
  if (owner == widget && gdk_window_get_window_type(window) == GDK_WINDOW_CHILD &&
      gdk_window_is_input_only(window)) {
    return window;
  }
  for (GList* child = gdk_window_peek_children(window); child; child = child->next) {
    if (GdkWindow* found = windowOf(static_cast<GdkWindow*>(child->data), widget))
      return found;
  }
  return nullptr;
}

class GtkInterfaceTest : public test_support::X11DesktopTest {
 protected:
  void SetUp() override {
    // Spelling in the language of the environment.
    g_setenv("LANGUAGE", "en_US", TRUE);
    desktop.flutter().setInterfaceRunner(gtkInterfaceRunner(desktop));
    controller = desktop.flutter().makeFlutterViewController();
    ASSERT_TRUE(controller);
    host = std::make_unique<HostSide>(controller->engine().binaryMessenger());
    panel = desktop.windows().makePanel(platform::CGRectMake(0, 0, 600, 600),
                                        platform::NSWindowStyleMaskTitled |
                                            platform::NSWindowStyleMaskClosable |
                                            platform::NSWindowStyleMaskResizable,
                                        platform::BackingStoreType::buffered, /*defer=*/false);
    panel->setContentViewController(controller);
    ASSERT_TRUE(widget("lumivane-interface")) << "the interface is in the panel";
  }

  void TearDown() override {
    host.reset();
    panel.reset();
    controller.reset();
  }

  GtkWidget* window() {
    return GTK_WIDGET(platform::gtk::GtkWindowCore::from(panel.get())->gtkWindow());
  }
  GtkWidget* widget(const char* name) { return findNamed(window(), name); }

  void show() { panel->makeKeyAndOrderFront(); }
  void hideAndShow() {
    panel->orderOut();
    show();
  }

  std::string label(const char* name) { return gtk_label_get_text(GTK_LABEL(widget(name))); }
  std::string status() { return label("status"); }
  bool statusIsProblem() {
    return gtk_style_context_has_class(gtk_widget_get_style_context(widget("status")), "problem");
  }
  std::string hotKeyShown() { return gtk_button_get_label(GTK_BUTTON(widget("hot-key"))); }
  bool allowOffered() { return gtk_widget_get_visible(widget("request-permission")); }
  bool launchSwitch() { return gtk_switch_get_active(GTK_SWITCH(widget("launch-at-login"))); }

  GtkTextBuffer* buffer() { return gtk_text_view_get_buffer(GTK_TEXT_VIEW(widget("text"))); }
  std::string text() {
    GtkTextIter start;
    GtkTextIter end;
    gtk_text_buffer_get_bounds(buffer(), &start, &end);
    platform::gtk::GCharPtr text(gtk_text_buffer_get_text(buffer(), &start, &end, TRUE));
    return text.get();
  }
  void click(const char* name) { gtk_button_clicked(GTK_BUTTON(widget(name))); }

  // A key pressed and released in the panel, delivered by GTK as one from
  // the server is: to the window, then its focus widget and up.
  void pressKey(guint keyval, guint state = 0) {
    GdkWindow* target = gtk_widget_get_window(window());
    ASSERT_TRUE(target) << "the panel has been shown";
    GdkDisplay* display = gdk_window_get_display(target);
    GdkKeymapKey* keys = nullptr;
    gint count = 0;
    gdk_keymap_get_entries_for_keyval(gdk_keymap_get_for_display(display), keyval, &keys, &count);
    for (GdkEventType type : {GDK_KEY_PRESS, GDK_KEY_RELEASE}) {
      GdkEvent* event = gdk_event_new(type);
      event->key.window = GDK_WINDOW(g_object_ref(target));
      event->key.send_event = TRUE;
      event->key.time = GDK_CURRENT_TIME;
      event->key.state = state;
      event->key.keyval = keyval;
      event->key.hardware_keycode = count > 0 ? static_cast<guint16>(keys[0].keycode) : 0;
      event->key.group = count > 0 ? static_cast<guint8>(keys[0].group) : 0;
      gdk_event_set_device(event, gdk_seat_get_keyboard(gdk_display_get_default_seat(display)));
      gtk_main_do_event(event);
      gdk_event_free(event);
    }
    g_free(keys);
  }

  // A press of `button` on the header, delivered to the header's own input
  // window as one from the server is.
  void pressHeader(guint button = 1, GdkEventType type = GDK_BUTTON_PRESS) {
    GdkWindow* target = windowOf(gtk_widget_get_window(window()), widget("header"));
    ASSERT_TRUE(target) << "the header takes presses in a window of its own";
    GdkEvent* event = gdk_event_new(type);
    event->button.window = GDK_WINDOW(g_object_ref(target));
    event->button.send_event = TRUE;
    event->button.time = GDK_CURRENT_TIME;
    event->button.button = button;
    event->button.x = 5;
    event->button.y = 5;
    gdk_event_set_device(
        event, gdk_seat_get_pointer(gdk_display_get_default_seat(gdk_window_get_display(target))));
    gtk_main_do_event(event);
    gdk_event_free(event);
  }

  // The shortcut recorder, started as by a click.
  void record(guint keyval, guint state) {
    click("hot-key");
    ASSERT_EQ(hotKeyShown(), "Press the new shortcut…");
    pressKey(keyval, state);
  }

  std::shared_ptr<platform::FlutterViewController> controller;
  std::unique_ptr<HostSide> host;
  std::shared_ptr<platform::Panel> panel;
};

// --- The selection and Insert -------------------------------------------------

TEST_F(GtkInterfaceTest, EachSelectionReplacesTheTextAndInsertSendsTheEditedTextExactly) {
  show();
  host->sendSelection("Teh quick brown fox");
  EXPECT_EQ(text(), "Teh quick brown fox");
  host->sendSelection("jumps");
  EXPECT_EQ(text(), "jumps");
  EXPECT_TRUE(gtk_widget_is_focus(widget("text"))) << "ready to be edited";

  // The user edits it, beyond ASCII.
  GtkTextIter end;
  gtk_text_buffer_get_end_iter(buffer(), &end);
  gtk_text_buffer_insert(buffer(), &end, " — Grüße, 日本語 🦊\nover the dog", -1);
  const std::string edited = "jumps — Grüße, 日本語 🦊\nover the dog";
  click("insert");
  // Control+Enter in the text sends it too, and adds no line break.
  pressKey(GDK_KEY_Return, GDK_CONTROL_MASK);
  pressKey(GDK_KEY_KP_Enter, GDK_CONTROL_MASK);
  EXPECT_EQ(text(), edited);
  // Enter alone is a line break.
  pressKey(GDK_KEY_Return);
  EXPECT_EQ(text(), "\n" + edited);
  gtk_text_buffer_set_text(buffer(), "", -1);
  click("insert");

  const auto pastes = host->callsOf("pasteText");
  ASSERT_EQ(pastes.size(), 4u);
  for (int i = 0; i < 3; ++i)
    EXPECT_EQ(pastes[i].arguments, EncodableValue(edited)) << i;
  EXPECT_EQ(pastes[3].arguments, EncodableValue(""));
  EXPECT_TRUE(host->callsOf("getSelection").empty()) << "the interface never holds the host";
}

// A NUL would make GTK refuse the whole text and leave the last selection
// showing, to be pasted in its place.
TEST_F(GtkInterfaceTest, SelectionsGTKCannotHoldAsTheyAreAreShownNotDropped) {
  show();
  host->sendSelection("earlier");
  host->sendSelection(std::string("a\0b", 3));
  EXPECT_EQ(text(),
            "a\xEF\xBF\xBD"
            "b");

  // Arguments that are no text, and methods it does not know, are refused.
  const auto notText = host->ask(kSelection, "updateSelection", EncodableValue(42));
  ASSERT_TRUE(notText);
  ASSERT_TRUE(std::holds_alternative<FlutterError>(*notText));
  EXPECT_EQ(std::get<FlutterError>(*notText).code(), "INVALID_ARGUMENT");
  EXPECT_EQ(text(),
            "a\xEF\xBF\xBD"
            "b");
  EXPECT_EQ(host->ask(kSelection, "refresh", EncodableValue()),
            FlutterReply(platform::FlutterMethodNotImplemented));
  EXPECT_EQ(host->ask(kSystem, "updateSelection", EncodableValue("x")),
            FlutterReply(platform::FlutterMethodNotImplemented));
}

TEST_F(GtkInterfaceTest, EveryAnswerToPasteTextIsToldInWords) {
  show();
  host->sendSelection("text");
  host->answers["pasteText"] = FlutterReply(EncodableValue(false));
  click("insert");
  EXPECT_EQ(status(),
            "Nothing was pasted: Lumivane may not type into other applications, or there is no "
            "application to paste into.");
  EXPECT_TRUE(statusIsProblem());
  host->answers["pasteText"] = FlutterReply(EncodableValue(true));
  click("insert");
  EXPECT_EQ(status(), "") << "a paste under way leaves nothing to tell";

  for (const auto& failure : kFailures) {
    host->answers["pasteText"] = failure.answer;
    click("insert");
    EXPECT_EQ(status(), std::string("Could not paste the text: ") + failure.told) << failure.kind;
    EXPECT_TRUE(statusIsProblem());
  }
  host->answers["pasteText"] = FlutterReply(EncodableValue("pasted"));
  click("insert");
  EXPECT_EQ(status(),
            "Could not paste the text: Lumivane's answer was not what this panel expects.");
}

// The host answers asynchronously in a real embedding: nothing waits for it,
// and an answer that comes after the interface has ended finds nothing.
TEST_F(GtkInterfaceTest, AnswersMayComeLateEvenAfterTheInterfaceHasEnded) {
  show();
  host->answers["pasteText"] = Deferred{};
  click("insert");
  ASSERT_EQ(host->deferred.size(), 1u);
  EXPECT_EQ(status(), "");
  host->sendSelection("still responsive");
  EXPECT_EQ(text(), "still responsive");
  host->deferred[0](StandardMethodCodec::sharedInstance().encodeReply(EncodableValue(false)));
  EXPECT_NE(status().find("Nothing was pasted"), std::string::npos);

  click("insert");
  ASSERT_EQ(host->deferred.size(), 2u);
  GtkWidget* root = widget("lumivane-interface");
  g_object_ref(root);
  // The engine goes with its controller, and the interface with it.
  panel.reset();
  controller.reset();
  host->deferred[1](StandardMethodCodec::sharedInstance().encodeReply(EncodableValue(false)));
  EXPECT_EQ(host->ask(kSelection, "updateSelection", EncodableValue("x")),
            FlutterReply(platform::FlutterMethodNotImplemented));
  EXPECT_FALSE(gtk_widget_get_visible(root));
  g_object_unref(root);
}

// --- The header ------------------------------------------------------------------

// The host starts the window manager's move with the event it is handling,
// so the call has to come while GTK handles the press.
TEST_F(GtkInterfaceTest, PressingTheHeaderAsksForTheDragDuringThePress) {
  show();
  pressHeader();
  auto drags = host->callsOf("startWindowDrag");
  ASSERT_EQ(drags.size(), 1u);
  EXPECT_EQ(drags[0].channel, kSelection);
  EXPECT_EQ(drags[0].during, GDK_BUTTON_PRESS);
  EXPECT_EQ(drags[0].button, 1u);
  EXPECT_EQ(drags[0].arguments, EncodableValue());
  EXPECT_EQ(status(), "");

  // Other buttons, and the second press of a double click, move nothing.
  pressHeader(3);
  pressHeader(1, GDK_2BUTTON_PRESS);
  EXPECT_EQ(host->callsOf("startWindowDrag").size(), 1u);

  host->answers["startWindowDrag"] = kFailures[0].answer;
  pressHeader();
  EXPECT_EQ(status(), std::string("Could not move the panel: ") + kFailures[0].told);
}

// --- Permission ---------------------------------------------------------------

TEST_F(GtkInterfaceTest, ThePermissionIsAskedEachTimeThePanelShowsAndEveryAnswerIsTold) {
  show();
  EXPECT_EQ(label("permission"), "Can copy and paste in other applications");
  EXPECT_FALSE(allowOffered());
  // Asked when shown, not again while it stays up: once the window manager
  // has given it the keyboard, and all that set off has run.
  ASSERT_TRUE(
      runUntil([&] { return platform::gtk::GtkWindowCore::from(panel.get())->hasFocus(); }));
  ASSERT_TRUE(test_support::pumpUntilSettled());
  EXPECT_EQ(host->callsOf("checkPermission").size(), 1u);

  host->answers["checkPermission"] = FlutterReply(EncodableValue(false));
  hideAndShow();
  EXPECT_EQ(label("permission"), "Not allowed to copy and paste in other applications");
  EXPECT_TRUE(allowOffered());
  EXPECT_EQ(status(), "");

  host->answers["checkPermission"] = Malformed{};
  hideAndShow();
  EXPECT_EQ(label("permission"), "Permission to copy and paste not known");
  EXPECT_TRUE(allowOffered());
  EXPECT_EQ(status(),
            "Could not check the permission to copy and paste: Lumivane's answer could not be "
            "read.");
  EXPECT_TRUE(statusIsProblem());
  EXPECT_EQ(host->callsOf("checkPermission").size(), 3u);
}

TEST_F(GtkInterfaceTest, AskingForThePermissionTellsEveryAnswer) {
  host->answers["checkPermission"] = FlutterReply(EncodableValue(false));
  show();
  ASSERT_TRUE(allowOffered());
  host->answers["requestPermission"] = FlutterReply(EncodableValue(true));
  click("request-permission");
  EXPECT_EQ(label("permission"), "Can copy and paste in other applications");
  EXPECT_FALSE(allowOffered());
  EXPECT_EQ(status(), "");
  host->answers["requestPermission"] = FlutterReply(EncodableValue(false));
  click("request-permission");
  EXPECT_EQ(label("permission"), "Not allowed to copy and paste in other applications");
  EXPECT_TRUE(allowOffered());
  EXPECT_EQ(status(), "Lumivane still may not copy and paste in other applications.");
  host->answers["requestPermission"] = kFailures[1].answer;
  click("request-permission");
  EXPECT_EQ(status(), std::string("Could not ask for the permission: ") + kFailures[1].told);
  EXPECT_TRUE(allowOffered());

  // The host hides the panel while it asks the system; what the answer says
  // is there when the panel shows again, and gone the time after.
  host->answers["requestPermission"] = FlutterReply(EncodableValue(false));
  host->onCall = [this](const ReceivedCall& call) {
    if (call.method == "requestPermission")
      panel->orderOut();
  };
  click("request-permission");
  EXPECT_FALSE(panel->isVisible());
  show();
  EXPECT_EQ(status(), "Lumivane still may not copy and paste in other applications.");
  hideAndShow();
  EXPECT_EQ(status(), "");
}

// --- Launch at login ------------------------------------------------------------

TEST_F(GtkInterfaceTest, TheLaunchSwitchShowsWhatTheHostHoldsAfterEveryAnswer) {
  host->answers["getLaunchAtLogin"] = FlutterReply(EncodableValue(true));
  show();
  EXPECT_TRUE(launchSwitch());
  GtkSwitch* toggle = GTK_SWITCH(widget("launch-at-login"));
  gtk_switch_set_active(toggle, FALSE);
  auto sets = host->callsOf("setLaunchAtLogin");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].channel, kSystem);
  EXPECT_EQ(sets[0].arguments, EncodableValue(false));
  EXPECT_FALSE(launchSwitch());
  EXPECT_EQ(status(), "");

  // Refused: the switch goes back to what the host says it holds.
  host->answers["setLaunchAtLogin"] =
      FlutterReply(FlutterError("LAUNCH_AT_LOGIN_FAILED", "Operation not permitted"));
  host->answers["getLaunchAtLogin"] = FlutterReply(EncodableValue(false));
  gtk_switch_set_active(toggle, TRUE);
  EXPECT_FALSE(launchSwitch());
  EXPECT_EQ(status(), "Could not make Lumivane start at login: Operation not permitted.");
  EXPECT_TRUE(statusIsProblem());
  EXPECT_EQ(host->callsOf("setLaunchAtLogin").size(), 2u) << "putting it back sets nothing";

  // When the host cannot say either, the switch shows what it said last, and
  // both failures are told.
  host->answers["setLaunchAtLogin"] =
      FlutterReply(FlutterError("LAUNCH_AT_LOGIN_FAILED", "Operation not permitted"));
  host->answers["getLaunchAtLogin"] = Malformed{};
  gtk_switch_set_active(toggle, TRUE);
  EXPECT_FALSE(launchSwitch());
  EXPECT_EQ(status(),
            "Could not make Lumivane start at login: Operation not permitted.\n"
            "Could not read whether it starts at login either: Lumivane's answer could not be "
            "read.");
  EXPECT_EQ(host->callsOf("setLaunchAtLogin").size(), 3u);
}

// Both questions of a showing failing: neither answer hides the other.
TEST_F(GtkInterfaceTest, BothFailuresOfAShowingAreTold) {
  host->answers["checkPermission"] = FlutterReply(platform::FlutterMethodNotImplemented);
  host->answers["getLaunchAtLogin"] = Malformed{};
  hideAndShow();
  EXPECT_EQ(status(),
            "Could not check the permission to copy and paste: this version of Lumivane does not "
            "offer it.\nCould not read whether Lumivane starts at login: Lumivane's answer could "
            "not be read.");
  EXPECT_FALSE(launchSwitch());
  EXPECT_TRUE(host->callsOf("setLaunchAtLogin").empty());
}

// --- The shortcut ---------------------------------------------------------------

TEST_F(GtkInterfaceTest, TheRecorderSendsTheChordAndShowsTheOneInForce) {
  show();
  EXPECT_EQ(hotKeyShown(), "Control+Shift+T");
  click("hot-key");
  EXPECT_EQ(hotKeyShown(), "Press the new shortcut…");
  // Modifiers on their own wait for the key; a key without Control, Alt or
  // Super is refused and the recorder goes on.
  pressKey(GDK_KEY_Control_L, 0);
  pressKey(GDK_KEY_a, 0);
  EXPECT_EQ(status(), "A shortcut needs Control, Alt or Super; press the keys again.");
  pressKey(GDK_KEY_Print, GDK_CONTROL_MASK);
  EXPECT_EQ(status(), "That key cannot be part of a shortcut; press another.");
  EXPECT_TRUE(host->callsOf("setGlobalHotKey").empty());
  pressKey(GDK_KEY_l, GDK_CONTROL_MASK | GDK_MOD1_MASK);

  auto sets = host->callsOf("setGlobalHotKey");
  ASSERT_EQ(sets.size(), 1u);
  EXPECT_EQ(sets[0].channel, kSystem);
  const auto* arguments = std::get_if<EncodableMap>(&sets[0].arguments);
  ASSERT_TRUE(arguments);
  EXPECT_EQ(arguments->size(), 2u);
  EXPECT_EQ(platform::asInt64(arguments->at(EncodableValue("keyCode"))), 0x25);
  EXPECT_EQ(platform::asInt64(arguments->at(EncodableValue("modifiers"))), 0x900);
  EXPECT_EQ(hotKeyShown(), "Control+Alt+L");
  EXPECT_EQ(status(), "Control+Alt+L now shows Lumivane.");
  EXPECT_FALSE(statusIsProblem());
}

TEST_F(GtkInterfaceTest, RefusedShortcutsAreToldAndTheOneInForceStays) {
  show();
  struct Case {
    Answer answer;
    guint keyval;
    guint state;
    const char* told;
  };
  const Case cases[] = {
      {FlutterReply(FlutterError("HOTKEY_UNAVAILABLE", "Hot key could not be registered")),
       GDK_KEY_k, GDK_CONTROL_MASK | GDK_MOD1_MASK,
       "Control+Alt+K is taken by another application; Control+Shift+T is still in use."},
      {FlutterReply(FlutterError("INVALID_ARGUMENT", "keyCode and modifiers required")), GDK_KEY_F5,
       GDK_MOD4_MASK,
       "Lumivane did not accept Super+F5 as a shortcut; Control+Shift+T is still in use."},
      {FlutterReply(platform::FlutterMethodNotImplemented), GDK_KEY_Left, GDK_CONTROL_MASK,
       "Could not change the shortcut: this version of Lumivane does not offer it. "
       "Control+Shift+T is still in use."},
      {Malformed{}, GDK_KEY_Left, GDK_CONTROL_MASK,
       "Could not tell whether Control+Left was taken as the shortcut: Lumivane's answer could "
       "not be read."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.told);
    host->answers["setGlobalHotKey"] = c.answer;
    record(c.keyval, c.state);
    EXPECT_EQ(status(), c.told);
    EXPECT_TRUE(statusIsProblem());
    EXPECT_EQ(hotKeyShown(), "Control+Shift+T");
  }
  EXPECT_EQ(host->callsOf("setGlobalHotKey").size(), std::size(cases));
}

// Escape while recording cancels the recording, not the panel; so does a
// second click, or the panel going away. Not recording, Escape closes the
// panel as its close button would, and it shows again as it was.
TEST_F(GtkInterfaceTest, RecordingIsCancelledByEscapeAClickOrThePanelHiding) {
  show();
  click("hot-key");
  pressKey(GDK_KEY_Escape);
  ASSERT_TRUE(test_support::pumpUntilSettled());
  EXPECT_TRUE(panel->isVisible());
  EXPECT_EQ(hotKeyShown(), "Control+Shift+T");
  EXPECT_EQ(status(), "");

  click("hot-key");
  click("hot-key");
  EXPECT_EQ(hotKeyShown(), "Control+Shift+T");
  click("hot-key");
  panel->orderOut();
  show();
  EXPECT_EQ(hotKeyShown(), "Control+Shift+T");
  // No longer recording: keys go where they always do.
  pressKey(GDK_KEY_l, GDK_CONTROL_MASK | GDK_MOD1_MASK);
  EXPECT_TRUE(host->callsOf("setGlobalHotKey").empty());
  pressKey(GDK_KEY_Escape);
  EXPECT_TRUE(runUntil([&] { return !panel->isVisible(); }));
  EXPECT_FALSE(gtk_widget_get_visible(window()));
  show();
  host->sendSelection("again");
  EXPECT_EQ(text(), "again");
}

// --- Spelling -------------------------------------------------------------------

// Misspelled words are marked as the text shows, in the language of the
// environment.
TEST_F(GtkInterfaceTest, TheTextIsCheckedForSpelling) {
  EXPECT_EQ(label("spelling"), "English (United States)");
  show();
  host->sendSelection("Teh quick brown fox");
  auto marked = [&](int offset) {
    GtkTextIter at;
    gtk_text_buffer_get_iter_at_offset(buffer(), &at, offset);
    GSList* tags = gtk_text_iter_get_tags(&at);
    const bool any = tags != nullptr;
    g_slist_free(tags);
    return any;
  };
  ASSERT_TRUE(runUntil([&] { return marked(1); }));
  EXPECT_FALSE(marked(6));
}

// Where the desktop binds no shortcut for Lumivane, the settings name the
// command to bind in place of a shortcut to change; the X11 desktop grabs
// the chord, and they name none.
TEST_F(GtkInterfaceTest, TheSettingsNameTheCommandToBindOnlyWhereNoShortcutCanBeTaken) {
  EXPECT_FALSE(widget("hot-key-command"));
  platform::sim::SimDesktop sim;
  auto elsewhere = sim.flutter().makeFlutterViewController();
  ASSERT_TRUE(elsewhere);
  GtkInterface ui(elsewhere->engine().interfaceMessenger(), "/usr/bin/lumivane --capture");
  GtkWidget* note = findNamed(ui.widget(), "hot-key-command");
  ASSERT_TRUE(note);
  const std::string text = gtk_label_get_text(GTK_LABEL(note));
  EXPECT_NE(text.find("\u201c/usr/bin/lumivane --capture\u201d"), std::string::npos) << text;
  EXPECT_FALSE(findNamed(ui.widget(), "hot-key"));
}

// --- Where it runs -----------------------------------------------------------------

// Another desktop's views are nothing to draw in; on the X11 desktop the
// program runs this interface unless told otherwise.
TEST(GtkInterfaceRunnerTest, DrawsInX11ViewsAndIsTheX11DesktopsDefault) {
  platform::sim::SimDesktop sim;
  auto simulated = sim.flutter().makeFlutterViewController();
  ASSERT_TRUE(simulated);
  EXPECT_EQ(gtkInterfaceRunner(sim)(*simulated), nullptr);

  const auto interfaces = headless::builtInInterfaces();
  const headless::PanelInterface* chosen = headless::defaultInterface(interfaces, "x11");
  ASSERT_TRUE(chosen);
  EXPECT_STREQ(chosen->name, "gtk");
  EXPECT_EQ(headless::defaultInterface(interfaces, "sim"), nullptr);
  EXPECT_TRUE(headless::findInterface(interfaces, "console"));
}

}  // namespace
}  // namespace lumivane::interface
