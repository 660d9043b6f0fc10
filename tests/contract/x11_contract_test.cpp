// The contract suites run against the X11 backend, each case on private
// displays of its own (the workspace's cases share GTK's desktop, which GTK
// cannot move), with other X clients standing for the user and the other
// applications.
//
// The harnesses' runFor does not sleep: the X11 services do their work within
// the calls that ask for it (a posted key is typed before the post returns)
// or through the main loop, so "for a while" becomes "until everything the
// server has sent by now has been handled": a round trip, then the main loop
// until it is idle, or a mark that comes back to a key recorder after every
// key delivered to it before.

// Before Xlib, whose macros (None, Bool) gtest's headers would otherwise meet.
#include <gtest/gtest.h>

#include <X11/Xlib.h>
#include <X11/keysym.h>
#include <gdk/gdkx.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <map>
#include <memory>
#include <set>
#include <sstream>
#include <stdexcept>

#include "platform/x11/x11_connection.h"
#include "platform/x11/x11_hot_keys.h"
#include "platform/x11/x11_keyboard_events.h"
#include "platform/x11/x11_pasteboard.h"
#include "platform/x11/x11_workspace.h"
#include "tests/contract/dispatch_contract.h"
#include "tests/contract/gtk_harnesses.h"
#include "tests/contract/hot_keys_contract.h"
#include "tests/contract/keyboard_contract.h"
#include "tests/contract/login_items_contract.h"
#include "tests/contract/pasteboard_contract.h"
#include "tests/contract/recorded_keys.h"
#include "tests/contract/workspace_contract.h"
#include "tests/platform/x11/gtk_test_display.h"
#include "tests/platform/x11/raw_x_client.h"
#include "tests/platform/x11/x_test_user.h"
#include "tests/support/x_session.h"

namespace lumivane::contract {
namespace {

using test_support::KeyRecorder;
using test_support::RawOwner;
using test_support::RawTarget;
using test_support::XSession;
using test_support::XTestUser;

// A harness that cannot set its desktop up fails its case here: GoogleTest
// reports an exception from the fixture's constructor and skips the body.
[[noreturn]] void cannotSetUp(const std::string& why) {
  throw std::runtime_error("the X11 harness could not set up: " + why);
}

const XSession::Options kBareDisplay{.windowManager = false, .sessionBus = false};
// GTK's desktop, for the hot keys (which open displays of their own besides)
// and the workspace (which needs a window manager).
const XSession::Options kGtkDesktop{};

// The keys the suites press, as the user's US keyboard has them.
struct Key {
  platform::CGKeyCode virtualKey;
  xcb_keysym_t keysym;
  const char* name;  // as a key recorder prints it
};
constexpr Key kKeys[] = {{platform::kVK_ANSI_C, XK_c, "c"},
                         {platform::kVK_ANSI_V, XK_v, "v"},
                         {platform::kVK_ANSI_T, XK_t, "t"}};

// The host's modifiers by role: Command is the Control key on Linux, and the
// host's Control is Super.
struct Modifier {
  std::uint32_t carbon;
  platform::CGEventFlags flag;
  xcb_keysym_t keysym;
  std::uint16_t mask;
  const char* name;  // as a key recorder prints it
};
constexpr Modifier kModifiers[] = {
    {platform::cmdKey, platform::kCGEventFlagMaskCommand, XK_Control_L, XCB_MOD_MASK_CONTROL,
     "Control"},
    {platform::shiftKey, platform::kCGEventFlagMaskShift, XK_Shift_L, XCB_MOD_MASK_SHIFT, "Shift"},
    {platform::optionKey, platform::kCGEventFlagMaskAlternate, XK_Alt_L, XCB_MOD_MASK_1, "Mod1"},
    {platform::controlKey, platform::kCGEventFlagMaskControl, XK_Super_L, XCB_MOD_MASK_4, "Mod4"},
};

xcb_keysym_t keysymOf(std::uint32_t virtualKey) {
  for (const auto& key : kKeys) {
    if (key.virtualKey == virtualKey)
      return key.keysym;
  }
  ADD_FAILURE() << "the harness has no key for virtual key " << virtualKey;
  return XK_VoidSymbol;
}

// --- Pasteboard -----------------------------------------------------------------

// Other applications read and write the CLIPBOARD of a bare display: xclip
// for one type, a raw owner for several or for a type it will not hand over.
class X11PasteboardHarness {
 public:
  static constexpr bool kHoldsSeveralItems = false;
  // An owner that never answers for its targets.
  static constexpr bool kCanLoseItemList = true;
  // X refuses the host's write over another client's clipboard that the host
  // has not cleared since it was taken: the user's clipboard is never
  // replaced by accident.
  static constexpr bool kRefusesWritesOverAnotherProcess = true;

  X11PasteboardHarness() {
    if (!session_.ready())
      cannotSetUp(session_.failure());
    platform::x11::X11Pasteboard::Options options;
    options.displayName = session_.display();
    std::string error;
    pasteboard_ = platform::x11::X11Pasteboard::open(std::move(options), &error);
    if (!pasteboard_)
      cannotSetUp(error);
  }

  platform::Pasteboard& pasteboard() { return *pasteboard_; }

  void writeFromAnotherProcess(const std::vector<ContractItem>& items) {
    ASSERT_EQ(items.size(), 1u) << "X's clipboard holds one item";
    const auto& item = items.front();
    if (item.size() == 1 && item.front().second) {
      const auto& bytes = *item.front().second;
      ASSERT_TRUE(session_.offerClipboard(targetOf(item.front().first),
                                          std::string(bytes.begin(), bytes.end())));
      owner_.reset();
      return;
    }
    std::vector<RawTarget> targets;
    for (const auto& [type, data] : item) {
      targets.push_back({.target = targetOf(type),
                         .type = targetOf(type),
                         .bytes = data ? std::string(data->begin(), data->end()) : std::string(),
                         .refused = !data});
    }
    stage(std::move(targets), {});
  }

  std::optional<platform::Bytes> readFromAnotherProcess(const std::string& type) {
    auto bytes = session_.readClipboard(targetOf(type));
    if (!bytes)
      return std::nullopt;
    return platform::Bytes(bytes->begin(), bytes->end());
  }

  void loseItemList() {
    RawOwner::Behaviour silent;
    silent.answersTargets = false;
    stage({{.target = "UTF8_STRING", .type = "UTF8_STRING", .bytes = "unlisted"}}, silent);
  }

 private:
  // The text type of the host is UTF8_STRING to other X clients.
  static std::string targetOf(const std::string& type) {
    return type == platform::NSPasteboardTypeString ? "UTF8_STRING" : type;
  }

  // A raw owner takes the clipboard; the one before goes only afterwards, so
  // that the clipboard is never without an owner in between.
  void stage(std::vector<RawTarget> targets, RawOwner::Behaviour behaviour) {
    auto owner = std::make_unique<RawOwner>(session_.display(), std::move(targets), behaviour);
    EXPECT_TRUE(owner->owns()) << "another client could not take the clipboard";
    owner_ = std::move(owner);
  }

  XSession session_{kBareDisplay};
  std::unique_ptr<platform::x11::X11Pasteboard> pasteboard_;
  std::unique_ptr<RawOwner> owner_;
};

// --- Keyboard events --------------------------------------------------------------

// Key recorders on a desktop with openbox, and the user's keyboard over
// XTest on a connection of its own.
class X11KeyboardHarness {
 public:
  X11KeyboardHarness() {
    if (!session_.ready())
      cannotSetUp(session_.failure());
    user_.emplace(session_.display());
    if (!user_->ready())
      cannotSetUp("no connection for the user's keyboard");
    events_.emplace(session_.display(), [] { return 0u; });
  }
  ~X11KeyboardHarness() { holdModifiers(0); }

  platform::KeyboardEvents& events() { return *events_; }

  platform::pid_t launchRecorder(const std::string& name) {
    auto recorder =
        std::make_unique<KeyRecorder>(session_, *user_, std::vector<std::string>{"--title", name});
    EXPECT_TRUE(recorder->ready()) << "the key recorder " << name << " did not show";
    const platform::pid_t pid = recorder->pid();
    recorders_[pid] = {std::move(recorder), {}};
    return pid;
  }

  void bringToFront(platform::pid_t pid) {
    EXPECT_TRUE(user_->activate(recorders_.at(pid).recorder->window()));
  }

  // What `pid` received up to now, modifier keys left out: what the host
  // cares about is the state each key came with.
  std::vector<ReceivedKey> received(platform::pid_t pid) {
    auto& [recorder, keys] = recorders_.at(pid);
    return addReceivedKeys(*recorder, keys);
  }

  void holdModifiers(platform::CGEventFlags flags) {
    for (const auto& modifier : kModifiers) {
      const bool want = (flags & modifier.flag) != 0;
      if (want == held_.contains(modifier.keysym))
        continue;
      EXPECT_TRUE(want ? user_->press(modifier.keysym) : user_->release(modifier.keysym));
      if (want)
        held_.insert(modifier.keysym);
      else
        held_.erase(modifier.keysym);
    }
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::waitUntil(done, seconds);
  }

  void runFor(double) {
    for (const auto& [pid, recorded] : recorders_)
      received(pid);
  }

 private:
  struct Recorded {
    std::unique_ptr<KeyRecorder> recorder;
    std::vector<ReceivedKey> keys;
  };

  XSession session_;
  std::optional<XTestUser> user_;
  std::optional<platform::x11::X11KeyboardEvents> events_;
  std::map<platform::pid_t, Recorded> recorders_;
  std::set<xcb_keysym_t> held_;
};

// --- GTK in the test process --------------------------------------------------------

// Runs the main loop until it has handled everything `display`'s server sent
// before now.
void settle(GdkDisplay* display) {
  XSync(gdk_x11_display_get_xdisplay(display), False);
  test_support::pump();
}

// --- Hot keys ---------------------------------------------------------------------

// The hot keys on a GDK display of their own (a fresh server for every
// case), with GTK's main loop run by the harness; the user types over XTest,
// and another client grabs chords on a connection of its own.
class X11HotKeysHarness {
 public:
  X11HotKeysHarness() {
    if (!test_support::startGtkOnPrivateDesktop(kGtkDesktop))
      cannotSetUp("GTK did not start");
    if (!session_.ready())
      cannotSetUp(session_.failure());
    display_.emplace(session_.display());
    user_.emplace(session_.display());
    if (!display_->get() || !user_->ready())
      cannotSetUp("no connection to " + session_.display());
    hotKeys_ = std::make_unique<platform::x11::X11HotKeys>(display_->get());
  }

  platform::HotKeys& hotKeys() { return *hotKeys_; }

  void press(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    std::vector<xcb_keysym_t> modifiers;
    for (const auto& modifier : kModifiers) {
      if (carbonModifiers & modifier.carbon)
        modifiers.push_back(modifier.keysym);
    }
    EXPECT_TRUE(user_->chord(modifiers, keysymOf(keyCode)));
  }

  void holdElsewhere(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    if (!other_)
      other_ = platform::x11::XcbConnection::open(session_.display(), nullptr);
    ASSERT_TRUE(other_);
    std::uint16_t mask = 0;
    for (const auto& modifier : kModifiers) {
      if (carbonModifiers & modifier.carbon)
        mask |= modifier.mask;
    }
    const auto keycode = user_->keycodeOf(keysymOf(keyCode));
    ASSERT_TRUE(keycode);
    EXPECT_TRUE(
        other_->succeeded(xcb_grab_key_checked(other_->get(), 1, other_->root(), mask, *keycode,
                                               XCB_GRAB_MODE_ASYNC, XCB_GRAB_MODE_ASYNC)));
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }
  void runFor(double) { settle(display_->get()); }

 private:
  XSession session_{kBareDisplay};
  std::optional<test_support::GdkTestDisplay> display_;
  std::optional<XTestUser> user_;
  std::unique_ptr<platform::x11::X11HotKeys> hotKeys_;
  std::unique_ptr<platform::x11::XcbConnection> other_;
};

// --- Workspace --------------------------------------------------------------------

// The workspace on GTK's desktop, with openbox. Applications are key
// recorders, each with a class of its own (its bundle identifier) and its
// process id on its window; the user activates them as a taskbar would.
class X11WorkspaceHarness {
 public:
  X11WorkspaceHarness() : session_(test_support::startGtkOnPrivateDesktop(kGtkDesktop)) {
    if (!session_)
      cannotSetUp("GTK did not start");
    user_ = std::make_unique<XTestUser>(session_->display());
    if (!user_->ready())
      cannotSetUp("no connection to " + session_->display());
    workspace_ = std::make_unique<platform::x11::X11Workspace>();
  }

  // The desktop outlives the case: its applications go with it. The
  // workspace goes first: its observers may hold what the case's body held,
  // and nothing is to be announced to them any more.
  ~X11WorkspaceHarness() {
    workspace_.reset();
    for (auto& [pid, app] : apps_)
      quit(pid);
  }

  platform::Workspace& workspace() { return *workspace_; }

  platform::pid_t launch(const std::string& name) {
    auto app = std::make_unique<KeyRecorder>(
        *session_, *user_,
        std::vector<std::string>{"--title", name, "--class", "Contract-" + name});
    EXPECT_TRUE(app->ready()) << "the application " << name << " did not show";
    const platform::pid_t pid = app->pid();
    apps_[pid] = std::move(app);
    return pid;
  }

  void bringToFront(platform::pid_t pid) { EXPECT_TRUE(user_->activate(apps_.at(pid)->window())); }

  // It exits, and the window manager has let go of its window.
  void quit(platform::pid_t pid) {
    auto& app = *apps_.at(pid);
    app.process().terminate();
    EXPECT_TRUE(test_support::pumpUntil([&] { return !isManaged(app.window()); }));
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }
  void runFor(double) { settle(gdk_display_get_default()); }

 private:
  bool isManaged(xcb_window_t window) {
    auto& x = user_->connection();
    auto clients = x.getProperty(x.root(), x.atom("_NET_CLIENT_LIST"), false, XCB_ATOM_WINDOW);
    const auto windows = clients ? clients->values32() : std::vector<std::uint32_t>{};
    return std::find(windows.begin(), windows.end(), window) != windows.end();
  }

  XSession* session_;
  std::unique_ptr<XTestUser> user_;
  std::unique_ptr<platform::x11::X11Workspace> workspace_;
  std::map<platform::pid_t, std::unique_ptr<KeyRecorder>> apps_;
};

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(X11, PasteboardContract, X11PasteboardHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(X11, DispatchContract, GLibDispatchHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(X11, KeyboardEventsContract, X11KeyboardHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(X11, HotKeysContract, X11HotKeysHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(X11, WorkspaceContract, X11WorkspaceHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(X11, LoginItemsContract, XdgLoginItemsHarness);

}  // namespace lumivane::contract
