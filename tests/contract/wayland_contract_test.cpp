// The contract suites run against the Wayland backend, each case on a private
// headless sway of its own (tests/support/sway_session), with other clients
// standing for the user and the other applications: wl-clipboard and a bare
// data-control owner for the clipboard's other clients, native key recorders
// (wayland_key_recorder) for the applications, and a virtual keyboard of
// another connection for the user's, whose modifiers sway keeps apart from
// the backend's own keyboard as it does a real keyboard's.
//
// "For a while" is "until what the compositor has sent by now has been
// handled": a mark that comes back from a key recorder after every key the
// compositor sent it before, or the main loop run until the commands a key
// binding started have ended and it is idle.

#include <gio/gio.h>
#include <gtest/gtest.h>
#include <wayland-client.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

#include "platform/gtk/key_symbols.h"
#include "platform/gtk/panel_embedding.h"
#include "platform/gtk/unique_fd.h"
#include "platform/wayland/protocols/wlr-data-control-unstable-v1-client-protocol.h"
#include "platform/wayland/sway_ipc.h"
#include "platform/wayland/wayland_connection.h"
#include "platform/wayland/wayland_hot_keys.h"
#include "platform/wayland/wayland_keyboard_events.h"
#include "platform/wayland/wayland_pasteboard.h"
#include "platform/wayland/wayland_toplevels.h"
#include "platform/wayland/wayland_workspace.h"
#include "tests/contract/dispatch_contract.h"
#include "tests/contract/gtk_harnesses.h"
#include "tests/contract/hot_keys_contract.h"
#include "tests/contract/keyboard_contract.h"
#include "tests/contract/login_items_contract.h"
#include "tests/contract/pasteboard_contract.h"
#include "tests/contract/recorded_keys.h"
#include "tests/contract/workspace_contract.h"
#include "tests/support/main_loop.h"
#include "tests/support/sway_session.h"
#include "tests/support/wait_until.h"

namespace lumivane::contract {
namespace {

using platform::wayland::SwayIpc;
using platform::wayland::Toplevel;
using platform::wayland::WaylandConnection;
using platform::wayland::WaylandHotKeys;
using platform::wayland::WaylandKeyboardEvents;
using platform::wayland::WaylandPasteboard;
using platform::wayland::WaylandToplevels;
using platform::wayland::WaylandWorkspace;
using test_support::ChildProcess;
using test_support::SwaySession;

// A harness that cannot set its desktop up fails its case here: GoogleTest
// reports an exception from the fixture's constructor and skips the body.
[[noreturn]] void cannotSetUp(const std::string& why) {
  throw std::runtime_error("the Wayland harness could not set up: " + why);
}

const SwaySession::Options kNativeOnly{.xwayland = false};

// --- What the harnesses share ---------------------------------------------------

// The test's own connection to a session: the compositor's window list and
// sway's IPC, as the backend's services use them.
struct WaylandClient {
  explicit WaylandClient(SwaySession& session) {
    if (!session.ready())
      cannotSetUp(session.failure());
    std::string error;
    connection = open(session, &error);
    if (!connection)
      cannotSetUp(error);
    toplevels = WaylandToplevels::start(*connection);
    ipc = SwayIpc::connect(session.environment().at("SWAYSOCK"));
    if (!toplevels || !ipc)
      cannotSetUp("no window list or no IPC");
  }

  static std::unique_ptr<WaylandConnection> open(SwaySession& session, std::string* error) {
    return WaylandConnection::open(session.socketPath(), error);
  }

  // The window of process `pid` as the compositor lists it.
  std::optional<Toplevel> windowOf(platform::pid_t pid) {
    const auto windows = ipc->windows().value_or(std::vector<platform::wayland::SwayWindow>{});
    for (const Toplevel& toplevel : toplevels->list()) {
      const auto* window = platform::wayland::swayWindowOf(toplevel, windows);
      if (window && window->pid == pid)
        return toplevel;
    }
    return std::nullopt;
  }

  std::unique_ptr<WaylandConnection> connection;
  std::shared_ptr<WaylandToplevels> toplevels;
  std::shared_ptr<SwayIpc> ipc;
};

// A native key recorder on the session, shown and listed.
class Recorder {
 public:
  Recorder(SwaySession& session,
           WaylandClient& client,
           const std::string& title,
           const std::string& appId)
      : process_(session.spawn({LUMIVANE_WAYLAND_KEY_RECORDER, "--title", title, "--app-id", appId},
                               {},
                               /*pipeInput=*/true,
                               /*pipeOutput=*/true)) {
    ready_ = process_.readLine(60) == "ready" &&
             test_support::waitUntil([&] { return client.windowOf(pid()).has_value(); }, 60);
  }

  bool ready() const { return ready_; }
  platform::pid_t pid() const { return process_.pid(); }
  ChildProcess& process() { return process_; }

  // Every key line not taken yet, up to what the compositor has sent by now.
  std::optional<std::vector<std::string>> linesUpToNow() {
    const std::string mark = "mark " + std::to_string(++marks_);
    if (!process_.write(mark + "\n"))
      return std::nullopt;
    std::vector<std::string> lines;
    while (auto line = process_.readLine(60)) {
      if (*line == mark)
        return lines;
      lines.push_back(*line);
    }
    return std::nullopt;
  }

 private:
  ChildProcess& process_;
  bool ready_ = false;
  int marks_ = 0;
};

// The user's keyboard: another connection's virtual keyboard, typing into
// whatever window has the keyboard.
class UserKeyboard {
 public:
  explicit UserKeyboard(SwaySession& session) : connection_(WaylandClient::open(session, nullptr)) {
    if (!connection_)
      cannotSetUp("no connection for the user's keyboard");
    keys_.emplace(*connection_, WaylandKeyboardEvents::Options{});
    if (!keys_->ready())
      cannotSetUp("the compositor made no keyboard for the user");
  }

  void key(platform::CGKeyCode key, bool down, platform::CGEventFlags flags) {
    auto event = keys_->CGEventCreateKeyboardEvent(nullptr, key, down);
    keys_->CGEventSetFlags(event, flags);
    keys_->CGEventPost(platform::CGEventTapLocation::hidEventTap, event);
    keys_->CFRelease(event);
  }

  // The host's Carbon modifiers as the flags of keys.
  static platform::CGEventFlags flagsOf(std::uint32_t carbon) {
    return platform::gtk::eventFlagsForModifiers(
        platform::gtk::modifiersForCarbonMask(carbon).value_or(0));
  }

 private:
  std::unique_ptr<WaylandConnection> connection_;
  std::optional<WaylandKeyboardEvents> keys_;
};

// --- Pasteboard -----------------------------------------------------------------

// Another client that offers several types at once, each of them written
// when asked for, or never (the pipe stays open and silent): a bare
// data-control source on a connection of its own.
class RawWaylandOwner {
 public:
  RawWaylandOwner(const std::string& socket, ContractItem item) : item_(std::move(item)) {
    std::string error;
    connection_ = WaylandConnection::open(socket, &error);
    const bool owns =
        connection_ &&
        connection_
            ->call<bool>([this] {
              const auto& globals = connection_->globals();
              static const zwlr_data_control_source_v1_listener listener = {
                  .send = &onSend, .cancelled = &onCancelled};
              source_ = zwlr_data_control_manager_v1_create_data_source(globals.dataControl);
              for (const auto& [type, data] : item_)
                zwlr_data_control_source_v1_offer(source_, type.c_str());
              zwlr_data_control_source_v1_add_listener(source_, &listener, this);
              // The device is told of every selection, its own included:
              // the offers it is given are let go at once.
              static const zwlr_data_control_device_v1_listener deviceListener = {
                  .data_offer =
                      [](void*, zwlr_data_control_device_v1*, zwlr_data_control_offer_v1* offer) {
                        zwlr_data_control_offer_v1_destroy(offer);
                      },
                  .selection = [](void*, zwlr_data_control_device_v1*,
                                  zwlr_data_control_offer_v1*) {},
                  .finished = [](void*, zwlr_data_control_device_v1*) {},
                  .primary_selection = [](void*, zwlr_data_control_device_v1*,
                                          zwlr_data_control_offer_v1*) {},
              };
              device_ =
                  zwlr_data_control_manager_v1_get_data_device(globals.dataControl, globals.seat);
              zwlr_data_control_device_v1_add_listener(device_, &deviceListener, nullptr);
              zwlr_data_control_device_v1_set_selection(device_, source_);
              return connection_->roundTrip();
            })
            .value_or(false);
    EXPECT_TRUE(owns) << "another client could not take the clipboard";
  }
  ~RawWaylandOwner() {
    if (connection_) {
      connection_->call<bool>([this] {
        zwlr_data_control_source_v1_destroy(source_);
        zwlr_data_control_device_v1_destroy(device_);
        return true;
      });
    }
  }

 private:
  static void onSend(void* data, zwlr_data_control_source_v1*, const char* mime, int32_t fd) {
    auto& self = *static_cast<RawWaylandOwner*>(data);
    platform::gtk::UniqueFd pipe(fd);
    auto it = std::find_if(self.item_.begin(), self.item_.end(),
                           [&](const auto& type) { return type.first == mime; });
    if (it == self.item_.end() || !it->second) {
      self.silent_.push_back(std::move(pipe));
      return;
    }
    // Small contents: the pipe takes them at once.
    for (std::size_t at = 0; at < it->second->size();) {
      const ssize_t n = ::write(pipe.get(), it->second->data() + at, it->second->size() - at);
      if (n <= 0)
        return;
      at += static_cast<std::size_t>(n);
    }
  }
  static void onCancelled(void*, zwlr_data_control_source_v1*) {}

  ContractItem item_;
  std::unique_ptr<WaylandConnection> connection_;
  zwlr_data_control_source_v1* source_ = nullptr;
  zwlr_data_control_device_v1* device_ = nullptr;
  std::vector<platform::gtk::UniqueFd> silent_;
};

// Other clients read and write the clipboard of a private sway: wl-copy for
// one type, a raw owner for several or for a type it will not hand over;
// wl-paste reads.
class WaylandPasteboardHarness {
 public:
  static constexpr bool kHoldsSeveralItems = false;
  // The compositor always names the selection's types.
  static constexpr bool kCanLoseItemList = false;
  // The host's write over another client's clipboard that the host has not
  // cleared since it was taken is refused: the user's clipboard is never
  // replaced by accident.
  static constexpr bool kRefusesWritesOverAnotherProcess = true;

  WaylandPasteboardHarness() {
    if (!session_.ready())
      cannotSetUp(session_.failure());
    std::string error;
    std::shared_ptr<WaylandConnection> connection =
        WaylandConnection::open(session_.socketPath(), &error);
    if (connection)
      pasteboard_ = WaylandPasteboard::open(connection, {}, &error);
    if (!pasteboard_)
      cannotSetUp(error);
  }

  platform::Pasteboard& pasteboard() { return *pasteboard_; }

  void writeFromAnotherProcess(const std::vector<ContractItem>& items) {
    ASSERT_EQ(items.size(), 1u) << "a Wayland selection holds one item";
    ContractItem item = items.front();
    for (auto& [type, data] : item)
      type = mimeOf(type);
    const auto before = pasteboard_->changeCount();
    if (item.size() == 1 && item.front().second) {
      const auto& bytes = *item.front().second;
      ASSERT_TRUE(session_.offerClipboard(item.front().first, {bytes.begin(), bytes.end()}));
    } else {
      // The owner before goes only once this one holds the clipboard, so it
      // never empties in between.
      auto owner = std::make_unique<RawWaylandOwner>(session_.socketPath(), item);
      owner_ = std::move(owner);
    }
    EXPECT_TRUE(test_support::waitUntil([&] { return pasteboard_->changeCount() > before; }))
        << "the pasteboard never saw the other client's write";
  }

  std::optional<platform::Bytes> readFromAnotherProcess(const std::string& type) {
    auto bytes = session_.readClipboard(mimeOf(type));
    if (!bytes)
      return std::nullopt;
    return platform::Bytes(bytes->begin(), bytes->end());
  }

  void loseItemList() {}

 private:
  // The host's text type is text/plain;charset=utf-8 to other clients.
  static std::string mimeOf(const std::string& type) {
    return type == platform::NSPasteboardTypeString ? "text/plain;charset=utf-8" : type;
  }

  SwaySession session_{SwaySession::Options{.xwayland = false, .sessionBus = false}};
  std::unique_ptr<WaylandPasteboard> pasteboard_;
  std::unique_ptr<RawWaylandOwner> owner_;
};

// --- Keyboard events ------------------------------------------------------------

class WaylandKeyboardHarness {
 public:
  WaylandKeyboardHarness() {
    events_.emplace(*client_.connection, WaylandKeyboardEvents::Options{
                                             .toplevels = client_.toplevels, .ipc = client_.ipc});
    if (!events_->ready())
      cannotSetUp("the compositor made no keyboard for the host");
  }
  ~WaylandKeyboardHarness() { holdModifiers(0); }

  platform::KeyboardEvents& events() { return *events_; }

  platform::pid_t launchRecorder(const std::string& name) {
    auto recorder = std::make_unique<Recorder>(session_, client_, name, "recorder");
    EXPECT_TRUE(recorder->ready()) << "the key recorder " << name << " did not show";
    const platform::pid_t pid = recorder->pid();
    recorders_[pid] = {std::move(recorder), {}};
    return pid;
  }

  void bringToFront(platform::pid_t pid) {
    session_.message("command", "[pid=" + std::to_string(pid) + "] focus");
    EXPECT_TRUE(test_support::waitUntil([&] {
      const auto window = client_.windowOf(pid);
      return window && window->activated;
    }));
  }

  std::vector<ReceivedKey> received(platform::pid_t pid) {
    auto& [recorder, keys] = recorders_.at(pid);
    return addReceivedKeys(*recorder, keys);
  }

  // The user holds Shift, or lets go of it: the one modifier the suite holds.
  void holdModifiers(platform::CGEventFlags flags) {
    const bool hold = (flags & platform::kCGEventFlagMaskShift) != 0;
    if (hold != holding_)
      user_.key(kVK_Shift, hold, hold ? platform::kCGEventFlagMaskShift : 0);
    holding_ = hold;
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::waitUntil(done, seconds);
  }
  void runFor(double) {
    for (const auto& [pid, recorded] : recorders_)
      received(pid);
  }

 private:
  static constexpr platform::CGKeyCode kVK_Shift = 0x38;
  struct Recorded {
    std::unique_ptr<Recorder> recorder;
    std::vector<ReceivedKey> keys;
  };

  SwaySession session_{kNativeOnly};
  WaylandClient client_{session_};
  // Made before any application starts: keys typed on a keyboard an
  // application has not seen appear are lost.
  UserKeyboard user_{session_};
  std::optional<WaylandKeyboardEvents> events_;
  std::map<platform::pid_t, Recorded> recorders_;
  bool holding_ = false;
};

// --- Workspace ------------------------------------------------------------------

// Applications are key recorders, each with an app id of its own (its bundle
// identifier); the user brings them forward through sway, as a keyboard
// shortcut or a task bar would.
class WaylandWorkspaceHarness {
 public:
  WaylandWorkspaceHarness()
      : workspace_(std::make_unique<WaylandWorkspace>(
            WaylandWorkspace::Options{.toplevels = client_.toplevels,
                                      .ipc = client_.ipc,
                                      .hostBundleIdentifier = std::nullopt})) {}
  // Nothing is announced to the cases' observers once the harness goes.
  ~WaylandWorkspaceHarness() { workspace_.reset(); }

  platform::Workspace& workspace() { return *workspace_; }

  platform::pid_t launch(const std::string& name) {
    auto app = std::make_unique<Recorder>(session_, client_, name, "contract-" + name);
    EXPECT_TRUE(app->ready()) << "the application " << name << " did not show";
    const platform::pid_t pid = app->pid();
    apps_[pid] = std::move(app);
    return pid;
  }

  void bringToFront(platform::pid_t pid) {
    EXPECT_TRUE(session_.message("command", "[pid=" + std::to_string(pid) + "] focus"));
  }

  // It exits, and the compositor has taken its window off the list.
  void quit(platform::pid_t pid) {
    apps_.at(pid)->process().terminate();
    EXPECT_TRUE(test_support::pumpUntil([&] { return !client_.windowOf(pid); }));
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }
  void runFor(double) {
    client_.connection->call<bool>([this] { return client_.connection->roundTrip(); });
    test_support::pumpUntilSettled();
  }

 private:
  SwaySession session_{kNativeOnly};
  WaylandClient client_{session_};
  std::unique_ptr<WaylandWorkspace> workspace_;
  std::map<platform::pid_t, std::unique_ptr<Recorder>> apps_;
};

// --- Hot keys ---------------------------------------------------------------------

// The name and object path the running host's application is known by on the
// session bus, where `lumivane --capture` finds it.
constexpr const char* kHostName = "com.lumivane.Lumivane";
constexpr const char* kHostPath = "/com/lumivane/Lumivane";

GDBusConnection* connectTo(const std::string& address) {
  GDBusConnection* bus = g_dbus_connection_new_for_address_sync(
      address.c_str(),
      GDBusConnectionFlags(G_DBUS_CONNECTION_FLAGS_AUTHENTICATION_CLIENT |
                           G_DBUS_CONNECTION_FLAGS_MESSAGE_BUS_CONNECTION),
      nullptr, nullptr, nullptr);
  if (!bus)
    cannotSetUp("no connection to the session bus");
  return bus;
}

// The hot keys with sway binding the chords. A binding runs the real
// `lumivane --capture`, as sway's user, which asks the running host over the
// session bus; the running host is played here by the test's own
// connection serving the application's actions, as the host's application
// does, and passes the press to the hot keys. The user types the chords on
// a keyboard of their own; another application's chord is a binding of the
// user's configuration.
class WaylandHotKeysHarness {
 public:
  WaylandHotKeysHarness()
      : bus_(connectTo(session_.environment().at("DBUS_SESSION_BUS_ADDRESS"))),
        hotKeys_(WaylandHotKeys::Options{.ipc = client_.ipc, .executable = LUMIVANE_EXECUTABLE}) {
    actions_.reset(G_ACTION_GROUP(g_simple_action_group_new()));
    platform::gtk::GObjectPtr<GSimpleAction> capture(g_simple_action_new("capture", nullptr));
    g_signal_connect(capture.get(), "activate",
                     G_CALLBACK(+[](GSimpleAction*, GVariant*, gpointer hotKeys) {
                       static_cast<WaylandHotKeys*>(hotKeys)->pressFromOutside();
                     }),
                     &hotKeys_);
    g_action_map_add_action(G_ACTION_MAP(actions_.get()), G_ACTION(capture.get()));
    exported_ =
        g_dbus_connection_export_action_group(bus_.get(), kHostPath, actions_.get(), nullptr);
    GVariant* owned = g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "RequestName", g_variant_new("(su)", kHostName, 0u), nullptr, G_DBUS_CALL_FLAGS_NONE, -1,
        nullptr, nullptr);
    if (!exported_ || !owned)
      cannotSetUp("cannot serve the host's actions");
    g_variant_unref(owned);
  }
  ~WaylandHotKeysHarness() {
    if (exported_)
      g_dbus_connection_unexport_action_group(bus_.get(), exported_);
  }

  platform::HotKeys& hotKeys() { return hotKeys_; }

  void press(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    const auto flags = UserKeyboard::flagsOf(carbonModifiers);
    user_.key(static_cast<platform::CGKeyCode>(keyCode), true, flags);
    user_.key(static_cast<platform::CGKeyCode>(keyCode), false, flags);
  }

  void holdElsewhere(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    std::string chord;
    for (const auto& [bit, name] : {std::pair{platform::cmdKey, "Ctrl+"},
                                    {platform::shiftKey, "Shift+"},
                                    {platform::optionKey, "Alt+"},
                                    {platform::controlKey, "Super+"}}) {
      if (carbonModifiers & bit)
        chord += name;
    }
    chord += keyCode == platform::kVK_ANSI_T ? "t" : keyCode == platform::kVK_ANSI_C ? "c" : "v";
    ASSERT_TRUE(session_.addToConfiguration("bindsym " + chord + " exec true"));
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }
  // The user's keys have reached sway by now (each is a round trip), and a
  // binding they fired has started its command: the commands are let finish.
  void runFor(double) {
    EXPECT_TRUE(test_support::pumpUntil([&] { return !commandRunning(); }));
    test_support::pumpUntilSettled();
  }

 private:
  static std::string commandLineOf(const std::filesystem::path& process) {
    std::ifstream in(process / "cmdline");
    return std::string(std::istreambuf_iterator<char>(in), {});
  }
  // A binding's command, or a copy of the compositor that has not become it
  // yet.
  bool commandRunning() {
    const auto compositor = "/proc/" + std::to_string(session_.compositorPid());
    const std::string copy = commandLineOf(compositor);
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
      const std::string line = commandLineOf(entry.path());
      const bool capture = line.find(LUMIVANE_EXECUTABLE) != std::string::npos &&
                           line.find("--capture") != std::string::npos;
      if (entry.path() != compositor && (line == copy || capture)) {
        return true;
      }
    }
    return false;
  }

  SwaySession session_{kNativeOnly};
  WaylandClient client_{session_};
  UserKeyboard user_{session_};
  platform::gtk::GObjectPtr<GDBusConnection> bus_;
  WaylandHotKeys hotKeys_;
  platform::gtk::GObjectPtr<GActionGroup> actions_;
  guint exported_ = 0;
};

// The hot keys where the session's desktop portal offers global shortcuts:
// a portal of the test's (shortcuts_portal.py) on a private bus, which binds
// what it is asked for, refuses what another application holds, and tells
// of the user's presses.
class PortalHotKeysHarness {
 public:
  PortalHotKeysHarness() {
    std::string pattern =
        (std::filesystem::temp_directory_path() / "lumivane-portal-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
      cannotSetUp("no temporary folder");
    directory_ = pattern;
    std::string address;
    busProcess_ = test_support::startSessionBus({}, directory_ / "bus.log", address);
    if (!busProcess_)
      cannotSetUp("the session bus did not start");
    portal_ = std::make_unique<ChildProcess>(
        ChildProcess::Options{.argv = {LUMIVANE_SYSTEM_PYTHON, LUMIVANE_SHORTCUTS_PORTAL},
                              .environment = {{"DBUS_SESSION_BUS_ADDRESS", address}},
                              .pipeInput = true,
                              .pipeOutput = true,
                              .logFile = directory_ / "portal.log"});
    if (portal_->readLine(60) != "ready")
      cannotSetUp("the portal did not start");
    bus_.reset(connectTo(address));
    hotKeys_.emplace(WaylandHotKeys::Options{.bus = bus_.get()});
  }
  ~PortalHotKeysHarness() {
    hotKeys_.reset();
    portal_.reset();
    busProcess_.reset();
    std::error_code ignored;
    std::filesystem::remove_all(directory_, ignored);
  }

  platform::HotKeys& hotKeys() { return *hotKeys_; }

  void press(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    portal_->write("press " + trigger(keyCode, carbonModifiers) + "\n");
    EXPECT_TRUE(portal_->readLine(60).value_or("").starts_with("pressed"));
  }
  void holdElsewhere(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    portal_->write("refuse " + trigger(keyCode, carbonModifiers) + "\n");
    EXPECT_TRUE(portal_->readLine(60).value_or("").starts_with("refused"));
  }

  bool runUntil(const std::function<bool()>& done, double seconds) {
    return test_support::pumpUntil(done, seconds);
  }
  // The portal's signals sent before the answer to a call come before it.
  void runFor(double) {
    GVariant* reply = g_dbus_connection_call_sync(
        bus_.get(), "org.freedesktop.portal.Desktop", "/org/freedesktop/portal/desktop",
        "org.freedesktop.DBus.Peer", "Ping", nullptr, nullptr, G_DBUS_CALL_FLAGS_NONE, -1, nullptr,
        nullptr);
    EXPECT_TRUE(reply);
    if (reply)
      g_variant_unref(reply);
    test_support::pumpUntilSettled();
  }

 private:
  // The chord as the shortcuts format writes it.
  static std::string trigger(std::uint32_t keyCode, std::uint32_t carbonModifiers) {
    std::string text;
    for (const auto& [bit, name] : {std::pair{platform::cmdKey, "CTRL+"},
                                    {platform::optionKey, "ALT+"},
                                    {platform::shiftKey, "SHIFT+"},
                                    {platform::controlKey, "LOGO+"}}) {
      if (carbonModifiers & bit)
        text += name;
    }
    return text + (keyCode == platform::kVK_ANSI_T   ? "t"
                   : keyCode == platform::kVK_ANSI_C ? "c"
                                                     : "v");
  }

  std::filesystem::path directory_;
  std::unique_ptr<ChildProcess> busProcess_;
  std::unique_ptr<ChildProcess> portal_;
  platform::gtk::GObjectPtr<GDBusConnection> bus_;
  std::optional<WaylandHotKeys> hotKeys_;
};

// Where neither a portal nor sway can bind a chord, registering fails and
// the panel is given the command the user binds instead; where one can, no
// command.
TEST(WaylandHotKeysTest, WithNeitherPortalNorSwayTheCommandToBindIsNamed) {
  WaylandHotKeys nowhere(WaylandHotKeys::Options{.executable = "/usr/bin/lumivane"});
  platform::EventHotKeyRef ref = nullptr;
  EXPECT_EQ(nowhere.RegisterEventHotKey(platform::kVK_ANSI_T, platform::cmdKey | platform::shiftKey,
                                        {1, 1}, nowhere.GetApplicationEventTarget(), 0, &ref),
            platform::eventHotKeyInvalidErr);
  EXPECT_EQ(platform::gtk::hotKeyCommandToBind(nowhere), "/usr/bin/lumivane --capture");
  PortalHotKeysHarness portal;
  EXPECT_EQ(platform::gtk::hotKeyCommandToBind(portal.hotKeys()), std::nullopt);
}

}  // namespace

INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, PasteboardContract, WaylandPasteboardHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, KeyboardEventsContract, WaylandKeyboardHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, WorkspaceContract, WaylandWorkspaceHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(WaylandSway, HotKeysContract, WaylandHotKeysHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(WaylandPortal, HotKeysContract, PortalHotKeysHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, DispatchContract, GLibDispatchHarness);
INSTANTIATE_TYPED_TEST_SUITE_P(Wayland, LoginItemsContract, XdgLoginItemsHarness);

}  // namespace lumivane::contract
