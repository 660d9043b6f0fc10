#include "platform/x11/x11_keyboard_events.h"

#include <X11/keysym.h>
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "capture/key_chords.h"
#include "tests/platform/x11/raw_x_client.h"
#include "tests/platform/x11/x_test_user.h"
#include "tests/support/x_session.h"

namespace lumivane {
namespace platform::x11 {

// The sources and events a keyboard made and has not been given back.
class X11KeyboardEventsTestPeer {
 public:
  static std::size_t live(X11KeyboardEvents& events) { return events.objects_.held(); }
};

}  // namespace platform::x11
namespace {

using platform::NSPasteboardTypeString;
using platform::x11::X11ApplicationEdits;
using platform::x11::X11KeyboardEvents;
using platform::x11::X11KeyboardEventsTestPeer;
using platform::x11::X11Pasteboard;
using test_support::KeyRecorder;
using test_support::RawClient;
using test_support::RawOwner;
using test_support::waitUntil;
using test_support::XSession;
using test_support::XTestUser;
using Lines = std::vector<std::string>;

// What a window sees of Control+C typed into it, and nothing else.
const Lines kControlC{"press Control_L none", "press c Control", "release c Control",
                      "release Control_L Control"};

// Another client's PRIMARY, as the user's selection elsewhere.
RawOwner::Behaviour onPrimary() {
  RawOwner::Behaviour behaviour;
  behaviour.selection = "PRIMARY";
  return behaviour;
}

// A desktop with a window manager, the user's keyboard, and a window standing
// for the host's panel, active as it is when the host captures.
class X11KeyboardEventsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(session_.ready()) << session_.failure();
    ASSERT_TRUE(user_.ready());
    panel_ = std::make_unique<KeyRecorder>(session_, user_,
                                           std::vector<std::string>{"--title", "panel"});
    ASSERT_TRUE(panel_->ready());
    ASSERT_TRUE(user_.activate(panel_->window()));
  }

  void TearDown() override {
    // Whatever the test did, no key is left down on the display.
    EXPECT_TRUE(waitUntil([&] { return user_.keysDown().empty(); }))
        << "keys were left down on the display";
  }

  std::unique_ptr<X11KeyboardEvents> keyboard() {
    return std::make_unique<X11KeyboardEvents>(session_.display(),
                                               [window = panel_->window()] { return window; });
  }

  // Keys that copy and paste as the built-in profiles say, with the host's
  // clipboard in `clipboard_`.
  std::unique_ptr<X11KeyboardEvents> editingKeyboard() {
    X11Pasteboard::Options options;
    options.displayName = session_.display();
    clipboard_ = X11Pasteboard::open(options, nullptr);
    return std::make_unique<X11KeyboardEvents>(
        session_.display(), [window = panel_->window()] { return window; }, nullptr, nullptr,
        std::make_unique<X11ApplicationEdits>(platform::gtk::ApplicationProfiles::builtIn(),
                                              *clipboard_, session_.display()));
  }

  // The host's clipboard holding `text` alone, as the host leaves it.
  void putOnClipboard(const std::string& text) {
    clipboard_->clearContents();
    ASSERT_TRUE(clipboard_->setStringForType(text, NSPasteboardTypeString));
  }

  std::unique_ptr<KeyRecorder> recorder(const std::string& title, Lines extra = {}) {
    Lines arguments{"--title", title};
    arguments.insert(arguments.end(), extra.begin(), extra.end());
    return std::make_unique<KeyRecorder>(session_, user_, arguments);
  }

  // The key lines `recorder` received up to now, proven complete by a key
  // the user types into it afterwards.
  Lines receivedSoFar(KeyRecorder& recorder) {
    if (!user_.isActive(recorder.window()) && !user_.activate(recorder.window()))
      return {"(could not be activated)"};
    user_.tap(XK_z);
    auto lines = recorder.linesBefore("press z none");
    // The sentinel's own release is no part of what comes next.
    if (!lines || !recorder.linesBefore("release z none"))
      return {"(the sentinel never came)"};
    return *lines;
  }

  XSession session_;
  XTestUser user_{session_.display()};
  std::unique_ptr<KeyRecorder> panel_;
  std::unique_ptr<X11Pasteboard> clipboard_;
};

// The user is still holding Control+Shift from the hot key when the chord is
// posted, and lets go only after the target has been activated: until then
// the target sees nothing (no key of the chord, no release the user did not
// make), then the user's own releases, then exactly Control+C.
TEST_F(X11KeyboardEventsTest, WaitsForModifiersTheUserIsStillHolding) {
  auto target = recorder("target");
  ASSERT_TRUE(target->ready());
  ASSERT_TRUE(user_.activate(panel_->window()));
  auto events = keyboard();
  ASSERT_TRUE(user_.press(XK_Control_L));
  ASSERT_TRUE(user_.press(XK_Shift_L));

  std::atomic<bool> posted = false;
  std::thread worker([&] {
    postCopyChord(*events, target->pid());
    posted = true;
  });
  const bool activated = waitUntil([&] { return posted || user_.isActive(target->window()); });
  const auto whileHeld = target->linesUpToNow();
  user_.release(XK_Shift_L);
  user_.release(XK_Control_L);
  worker.join();
  ASSERT_TRUE(activated);

  EXPECT_EQ(whileHeld, Lines{});
  Lines expected{"release Shift_L Shift+Control", "release Control_L Control"};
  expected.insert(expected.end(), kControlC.begin(), kControlC.end());
  EXPECT_EQ(target->nextLines(expected.size()), expected);
}

// The user holds Control+Shift+T (the hot key) for longer than the chord
// waits: the keys still down are released for the chord.
TEST_F(X11KeyboardEventsTest, ReleasesKeysHeldLongerThanItWaits) {
  auto target = recorder("target");
  ASSERT_TRUE(target->ready());
  ASSERT_TRUE(user_.activate(panel_->window()));
  auto events = keyboard();
  ASSERT_TRUE(user_.press(XK_Control_L));
  ASSERT_TRUE(user_.press(XK_Shift_L));
  ASSERT_TRUE(user_.press(XK_t));

  ASSERT_TRUE(postCopyChord(*events, target->pid()));

  Lines cKey;
  for (const auto& line : receivedSoFar(*target))
    if (line.rfind("press c", 0) == 0 || line.rfind("release c", 0) == 0)
      cKey.push_back(line);
  EXPECT_EQ(cKey, (Lines{"press c Control", "release c Control"}));
}

// Flags are set, not added to: a Shift the user holds does not ride along, and
// a flag can ask for any modifier role.
TEST_F(X11KeyboardEventsTest, TypesExactlyTheModifiersOfTheFlags) {
  auto target = recorder("target");
  ASSERT_TRUE(target->ready());
  ASSERT_TRUE(user_.activate(target->window()));
  auto events = keyboard();
  ASSERT_TRUE(user_.press(XK_Shift_L));
  auto* source = events->CGEventSourceCreate(platform::CGEventSourceStateID::hidSystemState);
  auto* down = events->CGEventCreateKeyboardEvent(source, platform::kVK_ANSI_T, true);
  auto* up = events->CGEventCreateKeyboardEvent(source, platform::kVK_ANSI_T, false);
  const auto flags = platform::kCGEventFlagMaskAlternate | platform::kCGEventFlagMaskControl;
  events->CGEventSetFlags(down, flags);
  events->CGEventSetFlags(up, flags);
  events->CGEventPost(platform::CGEventTapLocation::hidEventTap, down);
  events->CGEventPost(platform::CGEventTapLocation::hidEventTap, up);
  EXPECT_EQ(receivedSoFar(*target),
            (Lines{"press Shift_L none", "release Shift_L Shift", "press Alt_L none",
                   "press Super_L Mod1", "press t Mod1+Mod4", "release t Mod1+Mod4",
                   "release Super_L Mod1+Mod4", "release Alt_L Mod1"}));
  for (auto* object : {down, up})
    events->CFRelease(object);
  events->CFRelease(source);
  EXPECT_EQ(X11KeyboardEventsTestPeer::live(*events), 0u);
}

// New events start from the modifiers the user holds, except those of a
// private source; objects this keyboard did not make, or has been given back,
// are ignored rather than trusted.
TEST_F(X11KeyboardEventsTest, EventsStartFromTheHeldModifiersUnlessTheirSourceIsPrivate) {
  auto target = recorder("target");
  ASSERT_TRUE(target->ready());
  ASSERT_TRUE(user_.activate(target->window()));
  auto events = keyboard();
  auto* sessionSource =
      events->CGEventSourceCreate(platform::CGEventSourceStateID::combinedSessionState);
  auto* privateSource = events->CGEventSourceCreate(platform::CGEventSourceStateID::privateState);
  ASSERT_TRUE(user_.press(XK_Shift_L));
  std::vector<platform::CGEventRef> made;
  for (auto* source : {sessionSource, privateSource}) {
    for (bool down : {true, false})
      made.push_back(events->CGEventCreateKeyboardEvent(source, platform::kVK_ANSI_T, down));
  }
  ASSERT_TRUE(user_.release(XK_Shift_L));
  for (auto* event : made)
    events->CGEventPost(platform::CGEventTapLocation::hidEventTap, event);
  EXPECT_EQ(
      receivedSoFar(*target),
      (Lines{"press Shift_L none", "release Shift_L Shift", "press Shift_L none", "press t Shift",
             "release t Shift", "release Shift_L Shift", "press t none", "release t none"}));

  for (auto* event : made)
    events->CFRelease(event);
  events->CFRelease(sessionSource);
  events->CFRelease(privateSource);
  EXPECT_EQ(X11KeyboardEventsTestPeer::live(*events), 0u);
  events->CFRelease(made[0]);
  events->CFRelease(static_cast<platform::CGEventRef>(nullptr));
  events->CGEventSetFlags(made[0], platform::kCGEventFlagMaskCommand);
  events->CGEventPost(platform::CGEventTapLocation::hidEventTap, made[0]);
  events->CGEventPostToPid(target->pid(), made[0]);
  EXPECT_EQ(receivedSoFar(*target), Lines{});
}

// A terminal copies and pastes with its own keys, and Vim with a sequence
// of them; neither gets Control+C or Control+V. Keysyms on the shifted level
// of their key are typed with Shift.
TEST_F(X11KeyboardEventsTest, ApplicationsGetTheirOwnKeysInPlaceOfTheChords) {
  auto terminal = recorder("terminal", {"--class", "Xfce4-terminal"});
  auto vim = recorder("vim", {"--class", "Gvim"});
  ASSERT_TRUE(terminal->ready() && vim->ready());
  ASSERT_TRUE(user_.activate(panel_->window()));
  auto events = editingKeyboard();

  ASSERT_TRUE(postCopyChord(*events, terminal->pid()));
  EXPECT_EQ(terminal->nextLines(6),
            (Lines{"press Shift_L none", "press Control_L Shift", "press c Shift+Control",
                   "release c Shift+Control", "release Control_L Shift+Control",
                   "release Shift_L Shift"}));
  EXPECT_TRUE(waitUntil([&] { return user_.isActive(panel_->window()); }));

  ASSERT_TRUE(user_.activate(vim->window()));
  ASSERT_TRUE(postPasteChord(*events));
  Lines keys;  // Without the modifier keys' own lines.
  for (const auto& line : receivedSoFar(*vim)) {
    if (line.rfind("press ", 0) == 0 && line.find("_L ") == std::string::npos)
      keys.push_back(line);
  }
  EXPECT_EQ(keys,
            (Lines{"press backslash Control", "press n Control", "press g none", "press v none",
                   "press apostrophe Shift", "press equal Shift", "press p Shift"}));
  EXPECT_EQ(receivedSoFar(*terminal), Lines{});
}

// An application that keeps its selection in PRIMARY gets no key: what it
// has selected goes on the clipboard while it owns PRIMARY, and nothing does
// while another client owns it.
TEST_F(X11KeyboardEventsTest, CopiesFromPrimaryOnlyWhatTheApplicationOwns) {
  auto xterm = recorder("xterm", {"--class", "XTerm", "--owns-primary", "selected in xterm"});
  ASSERT_TRUE(xterm->ready());
  ASSERT_TRUE(user_.activate(panel_->window()));
  auto events = editingKeyboard();

  clipboard_->clearContents();
  ASSERT_TRUE(postCopyChord(*events, xterm->pid()));
  EXPECT_EQ(clipboard_->stringForType(NSPasteboardTypeString), "selected in xterm");
  EXPECT_TRUE(user_.isActive(panel_->window()));

  RawOwner another(session_.display(), {{"UTF8_STRING", "UTF8_STRING", 8, "another's"}},
                   onPrimary());
  ASSERT_TRUE(another.owns());
  clipboard_->clearContents();
  ASSERT_TRUE(postCopyChord(*events, xterm->pid()));
  EXPECT_EQ(clipboard_->stringForType(NSPasteboardTypeString), std::nullopt);
  EXPECT_EQ(receivedSoFar(*xterm), Lines{});
}

// Pasting into such an application offers the text as PRIMARY while its keys
// go out, however late it reads, then gives the user's PRIMARY back: byte for
// byte, or to nobody when nobody had it.
TEST_F(X11KeyboardEventsTest, PastesThroughPrimaryAndGivesTheUsersBack) {
  auto xterm = recorder("xterm", {"--class", "XTerm", "--reads", "PRIMARY", "--read-delay", "300"});
  ASSERT_TRUE(xterm->ready());
  ASSERT_TRUE(user_.activate(xterm->window()));
  auto events = editingKeyboard();
  putOnClipboard("pasted text");
  RawClient reader(session_.display());

  ASSERT_TRUE(postPasteChord(*events));
  EXPECT_EQ(reader.owner("PRIMARY"), XCB_WINDOW_NONE);
  const std::string image = test_support::noise(5000, 16);
  RawOwner user(
      session_.display(),
      {{"UTF8_STRING", "UTF8_STRING", 8, "the user's"}, {"image/png", "image/png", 8, image}},
      onPrimary());
  ASSERT_TRUE(postPasteChord(*events));
  for (const auto& [target, bytes] :
       {std::pair<std::string, std::string>{"UTF8_STRING", "the user's"}, {"image/png", image}}) {
    const auto read = reader.read(target, "PRIMARY");
    ASSERT_TRUE(read) << target;
    EXPECT_EQ(std::string(read->data.begin(), read->data.end()), bytes) << target;
  }
  const Lines paste{"press Shift_L none", "press Insert Shift", "read pasted text",
                    "release Insert Shift", "release Shift_L Shift"};
  Lines both = paste;
  both.insert(both.end(), paste.begin(), paste.end());
  EXPECT_EQ(receivedSoFar(*xterm), both);
}

// An application may read the clipboard well after the chord (a browser
// first reads it over for its own activation): a paste returns once it has,
// whatever keys it took, so that the host's restore comes after.
TEST_F(X11KeyboardEventsTest, APasteReturnsOnceTheApplicationHasReadTheClipboard) {
  const Lines lateReader{"--reads", "CLIPBOARD", "--read-delay", "500"};
  auto editor = recorder("editor", lateReader);
  Lines terminalArguments = lateReader;
  terminalArguments.insert(terminalArguments.end(), {"--class", "Xfce4-terminal"});
  auto terminal = recorder("terminal", terminalArguments);
  ASSERT_TRUE(editor->ready() && terminal->ready());
  auto events = editingKeyboard();
  for (KeyRecorder* target : {editor.get(), terminal.get()}) {
    ASSERT_TRUE(user_.activate(target->window()));
    putOnClipboard("the host's text");
    ASSERT_TRUE(postPasteChord(*events));
    putOnClipboard("the user's text");
    const auto lines = receivedSoFar(*target);
    EXPECT_NE(std::find(lines.begin(), lines.end(), "read the host's text"), lines.end())
        << ::testing::PrintToString(lines);
  }
}

// A key-down whose key-up never comes does not leave keys held when the
// keyboard goes.
TEST_F(X11KeyboardEventsTest, ReleasesItsKeysWhenItGoes) {
  auto events = keyboard();
  auto* down = events->CGEventCreateKeyboardEvent(nullptr, platform::kVK_ANSI_C, true);
  events->CGEventSetFlags(down, platform::kCGEventFlagMaskCommand);
  events->CGEventPost(platform::CGEventTapLocation::hidEventTap, down);
  EXPECT_EQ(user_.keysDown().size(), 2u);
  events->CFRelease(down);
  events.reset();
  EXPECT_TRUE(user_.keysDown().empty());
}

// Without a window manager no window can be made active; typing anyway would
// reach whatever is under the pointer.
TEST(X11KeyboardEventsNoWindowManagerTest, PostsNothingToAProcess) {
  XSession session(XSession::Options{.windowManager = false, .sessionBus = false});
  ASSERT_TRUE(session.ready()) << session.failure();
  XTestUser user(session.display());
  // Large enough to lie under the pointer, where the keys would go.
  KeyRecorder target(session, user, {"--geometry", "1280x800+0+0"});
  ASSERT_TRUE(target.ready());
  X11KeyboardEvents events(session.display(), [] { return 0u; });
  ASSERT_TRUE(postCopyChord(events, target.pid()));
  user.tap(XK_z);
  EXPECT_EQ(target.linesBefore("press z none"), Lines{});
}

TEST(X11KeyboardEventsNoDisplayTest, MakesEventsButTypesNothing) {
  X11KeyboardEvents events("/nonexistent/socket:0", [] { return 0u; });
  EXPECT_TRUE(postCopyChord(events, 1));
  EXPECT_TRUE(postPasteChord(events));
  EXPECT_EQ(X11KeyboardEventsTestPeer::live(events), 0u);
}

}  // namespace
}  // namespace lumivane
