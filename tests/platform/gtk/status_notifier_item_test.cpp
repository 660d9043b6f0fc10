#include "platform/gtk/status_notifier_item.h"
#include "platform/gtk/status_icon_chooser.h"

#include <gtest/gtest.h>
#include <gtk/gtkx.h>
#include <unistd.h>

#include <map>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "shell/app_delegate.h"
#include "tests/platform/x11/host_on_x11.h"

// GLib, GIO and fontconfig are not built with the sanitizers. ThreadSanitizer
// sees neither their futex locks nor their atomics, so every message GDBus's
// worker thread hands to the main loop, and every font pango's thread loads,
// looks like a race; and fontconfig keeps what it matched until the process
// ends. No thread of ours runs in these tests, so nothing of ours is hidden.
extern "C" const char* __tsan_default_suppressions() {
  return "race:libglib-2.0.so\nrace:libgio-2.0.so\nrace:libgobject-2.0.so\n"
         "race:libfontconfig.so\nrace:libpangoft2-1.0.so\nmutex:libgobject-2.0.so\n";
}

namespace lumivane {
namespace {

using platform::EventType;
using platform::gtk::GSourcePtr;
using platform::gtk::StatusMenuEntry;
using platform::gtk::StatusNotifierPresenter;
using test_support::ChildProcess;
using test_support::RecordingTarget;

// The StatusNotifierWatcher and panel of sni_watcher.py on the test's session
// bus. It prints what it sees as lines; the test reads them while the main
// loop turns, so that this process answers the panel meanwhile. Each line is
// taken once, by the first wait that matches it.
class Panel {
 public:
  Panel(test_support::XSession& session, std::vector<std::string> options = {})
      : process_(options_(session, std::move(options))) {}

  // The next line not yet taken that starts with `prefix`, within a generous
  // bound; absent when none came.
  std::optional<std::string> waitFor(const std::string& prefix) {
    std::optional<std::string> found;
    test_support::pumpUntil(
        [&] {
          while (auto line = process_.readLine(0)) {
            lines_.emplace_back(std::move(*line), false);
          }
          for (auto& [line, taken] : lines_) {
            if (!taken && line.rfind(prefix, 0) == 0) {
              taken = true;
              found = line;
              return true;
            }
          }
          return false;
        },
        60);
    return found;
  }
  // Sends `command` and waits for the line starting with `answer`.
  std::optional<std::string> ask(const std::string& command, const std::string& answer) {
    process_.write(command + "\n");
    return waitFor(answer);
  }
  // The item's properties, by name.
  std::map<std::string, std::string> properties() {
    std::map<std::string, std::string> values;
    if (ask("props", "props-done")) {
      for (const auto& line : take("prop ")) {
        const auto space = line.find(' ', 5);
        values[line.substr(5, space - 5)] =
            space == std::string::npos ? "" : line.substr(space + 1);
      }
    }
    return values;
  }
  // The menu's entries as lines "entry ID label=... shortcut=...".
  std::vector<std::string> layout() {
    return ask("layout", "layout-done") ? take("entry ") : std::vector<std::string>{};
  }
  // Whether a line starting with `prefix` came and was not taken.
  bool saw(const std::string& prefix) const {
    for (const auto& [line, taken] : lines_) {
      if (!taken && line.rfind(prefix, 0) == 0) {
        return true;
      }
    }
    return false;
  }
  void stop() { process_.terminate(); }

 private:
  static ChildProcess::Options options_(test_support::XSession& session,
                                        std::vector<std::string> options) {
    ChildProcess::Options child;
    child.argv = {LUMIVANE_SYSTEM_PYTHON, LUMIVANE_SNI_WATCHER};
    child.argv.insert(child.argv.end(), options.begin(), options.end());
    child.environment = session.environment();
    child.pipeInput = true;
    child.pipeOutput = true;
    child.logFile = session.directory() / "logs" / "sni_watcher.log";
    return child;
  }
  // Takes every line read so far that starts with `prefix`, in order: what
  // the panel printed before the line that ended its answer.
  std::vector<std::string> take(const std::string& prefix) {
    std::vector<std::string> taken;
    for (auto& [line, done] : lines_) {
      if (!done && line.rfind(prefix, 0) == 0) {
        done = true;
        taken.push_back(line);
      }
    }
    return taken;
  }

  ChildProcess process_;
  std::vector<std::pair<std::string, bool>> lines_;
};

class StatusNotifierTest : public ::testing::Test {
 protected:
  test_support::XSession& session() { return *test_support::gtkTestSession(); }

  bool runUntil(const std::function<bool()>& condition) {
    return test_support::pumpUntil(condition);
  }

  std::unique_ptr<Panel> startPanel(std::vector<std::string> options = {}) {
    auto panel = std::make_unique<Panel>(session(), std::move(options));
    EXPECT_TRUE(panel->waitFor("ready")) << "the watcher did not start";
    return panel;
  }

  // Whether someone owns `name` on the session bus.
  bool owned(const std::string& name) {
    platform::gtk::GVariantPtr reply(g_dbus_connection_call_sync(
        bus.get(), "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
        "NameHasOwner", g_variant_new("(s)", name.c_str()), G_VARIANT_TYPE("(b)"),
        G_DBUS_CALL_FLAGS_NONE, -1, nullptr, nullptr));
    gboolean owned = FALSE;
    if (reply) {
      g_variant_get(reply.get(), "(b)", &owned);
    }
    return owned;
  }

  void TearDown() override {
    // The next test starts on a bus without a watcher.
    for (auto& panel : panels) {
      panel->stop();
    }
    EXPECT_TRUE(runUntil([&] { return !owned(platform::gtk::kStatusNotifierWatcherName); }));
  }

  std::string itemName(unsigned number) {
    return "org.kde.StatusNotifierItem-" + std::to_string(::getpid()) + "-" +
           std::to_string(number);
  }

  test_support::HostOnX11Desktop desktop{
      platform::gtk::statusNotifierItemsOr(platform::x11::trayIcons())};
  platform::gtk::GObjectPtr<GDBusConnection> bus{
      g_bus_get_sync(G_BUS_TYPE_SESSION, nullptr, nullptr)};
  std::vector<std::unique_ptr<Panel>> panels;
};

// --- The item on its own ---------------------------------------------------------------

// What the host is told, and what it answers when it opens its menu.
class RecordingEvents : public platform::gtk::StatusIconEvents {
 public:
  void statusIconClicked(EventType type, std::uint64_t, double) override {
    clicks.push_back(type);
    if (type == EventType::rightMouseUp && presenter) {
      chosen.push_back(presenter->popUpMenu(menu));
    }
  }
  std::vector<EventType> clicks;
  platform::gtk::StatusIconPresenter* presenter = nullptr;
  std::vector<StatusMenuEntry> menu;
  std::vector<std::optional<std::size_t>> chosen;
};

using StatusNotifierItemTest = StatusNotifierTest;

TEST_F(StatusNotifierItemTest, RegistersAndPublishesItsIconTooltipAndMenu) {
  auto& panel = *panels.emplace_back(startPanel());
  RecordingEvents events;
  StatusNotifierPresenter item(events, bus.get(), 1);
  ASSERT_TRUE(item.exported());
  item.setIcon("accessories-text-editor", true, "T", "Lumivane");
  EXPECT_EQ(panel.waitFor("registered ").value_or(""),
            "registered " + itemName(1) + " " + g_dbus_connection_get_unique_name(bus.get()));
  auto props = panel.properties();
  EXPECT_EQ(props["Id"], "lumivane");
  EXPECT_EQ(props["Title"], "Lumivane");
  EXPECT_EQ(props["Category"], "ApplicationStatus");
  EXPECT_EQ(props["Status"], "Active");
  EXPECT_EQ(props["IconName"], "accessories-text-editor-symbolic");
  EXPECT_EQ(props["IconPixmap"], "none");
  EXPECT_EQ(props["ToolTip"], "|0|Lumivane|");
  EXPECT_EQ(props["ItemIsMenu"], "false");
  EXPECT_EQ(props["Menu"], "/MenuBar");

  // Without a themed icon, the title is drawn at several sizes.
  item.setIcon("", false, "T", "Lumivane");
  ASSERT_TRUE(panel.waitFor("signal NewIcon"));
  props = panel.properties();
  EXPECT_EQ(props["IconName"], "");
  for (const int side : {16, 22, 24, 32, 48}) {
    const std::string size = std::to_string(side) + "x" + std::to_string(side) + ":" +
                             std::to_string(side * side * 4) + ":";
    const auto at = props["IconPixmap"].find(size);
    ASSERT_NE(at, std::string::npos) << props["IconPixmap"];
    EXPECT_GT(std::stoi(props["IconPixmap"].substr(at + size.size())), 5) << "inked at " << side;
  }
  // The same icon again tells the panel nothing; a new tooltip does, and
  // reaches it as well-formed text whatever it was given.
  item.setIcon("", false, "T", "Lumivane");
  item.setIcon("", false, "T", "Writing \xff assistant");
  ASSERT_TRUE(panel.waitFor("signal NewToolTip"));
  EXPECT_FALSE(panel.saw("signal NewIcon"));
  EXPECT_EQ(panel.properties()["ToolTip"], "|0|Writing \xEF\xBF\xBD assistant|");
}

// Activate and SecondaryActivate are the left click, ContextMenu the right
// one, Scroll nothing. A menu the panel shows is the host's, asked for as a
// right click; an entry chosen there reaches the host as the choice of its
// next menu, and only when that menu still has the entry.
TEST_F(StatusNotifierItemTest, PanelRequestsBecomeTheHostsClicksAndChoices) {
  auto& panel = *panels.emplace_back(startPanel());
  RecordingEvents events;
  StatusNotifierPresenter item(events, bus.get(), 1);
  item.setIcon("", false, "T", "");
  ASSERT_TRUE(panel.waitFor("registered "));
  for (const char* call : {"call Activate 3 4", "call SecondaryActivate 3 4",
                           "call Scroll 1 vertical", "call ContextMenu 3 4"}) {
    ASSERT_TRUE(panel.ask(call, "reply "));
  }
  ASSERT_TRUE(runUntil([&] { return events.clicks.size() == 3; }));
  EXPECT_EQ(events.clicks, (std::vector<EventType>{EventType::leftMouseUp, EventType::leftMouseUp,
                                                   EventType::rightMouseUp}));

  // From here on the host answers right clicks with its menu.
  events.presenter = &item;
  events.menu = {{"Save_As", "S"}, {"Quit", "q"}};
  EXPECT_EQ(panel.layout(),
            (std::vector<std::string>{
                "entry 1 label=Save__As shortcut=Control+Shift+s enabled=true visible=true",
                "entry 2 label=Quit shortcut=Control+q enabled=true visible=true"}));
  ASSERT_EQ(events.chosen.size(), 1u) << "the layout was asked of the host";
  EXPECT_EQ(events.chosen.back(), std::nullopt) << "the panel shows it; nothing is chosen yet";
  EXPECT_EQ(panel.ask("about-to-show 0", "reply AboutToShow"), "reply AboutToShow false");

  // The host's menu changes behind the panel's back: the entry chosen there
  // is gone, so nothing is chosen, and the panel is told of the new layout.
  events.menu = {{"Quit", "q"}};
  EXPECT_EQ(panel.ask("event 1 clicked", "reply Event"), "reply Event ok");
  ASSERT_TRUE(runUntil([&] { return events.chosen.size() == 3; }));
  EXPECT_EQ(events.chosen.back(), std::nullopt);
  EXPECT_TRUE(panel.waitFor("signal LayoutUpdated"));
  // An entry that moved is still found.
  events.menu = {{"Preferences", ","}, {"Quit", "q"}};
  EXPECT_EQ(panel.ask("event 1 clicked", "reply Event"), "reply Event ok");
  ASSERT_TRUE(runUntil([&] { return events.chosen.size() == 4; }));
  EXPECT_EQ(events.chosen.back(), std::optional<std::size_t>(1));
  EXPECT_EQ(panel.ask("about-to-show 0", "reply AboutToShow"), "reply AboutToShow false");
  events.menu = {{"Quit", "q"}};
  EXPECT_EQ(panel.ask("about-to-show 0", "reply AboutToShow"), "reply AboutToShow true");

  // Items the menu does not have are refused, and nothing reaches the host.
  const auto clicks = events.clicks.size();
  EXPECT_EQ(panel.ask("event 5 clicked", "reply Event"),
            "reply Event error org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(panel.ask("about-to-show -1", "reply AboutToShow"),
            "reply AboutToShow error org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(panel.ask("layout-of 9", "reply GetLayout"),
            "reply GetLayout error org.freedesktop.DBus.Error.InvalidArgs");
  EXPECT_EQ(events.clicks.size(), clicks);
}

// When another connection holds the item's name, the watcher is given the
// item's path and finds it under this connection's own name.
TEST_F(StatusNotifierItemTest, RegistersByPathWhenItsNameIsTaken) {
  auto& panel = *panels.emplace_back(startPanel());
  ASSERT_EQ(panel.ask("own " + itemName(7), "owned"), "owned " + itemName(7));
  RecordingEvents events;
  StatusNotifierPresenter item(events, bus.get(), 7);
  item.setIcon("", false, "T", "");
  EXPECT_EQ(panel.waitFor("registered ").value_or(""),
            std::string("registered /StatusNotifierItem ") +
                g_dbus_connection_get_unique_name(bus.get()));
  EXPECT_EQ(panel.properties()["Title"], "Lumivane");
}

// --- The status bar's items ---------------------------------------------------------

// The menu on screen, if one is: the menu a popup window holds, mapped.
GtkMenu* menuOnScreen() {
  GtkMenu* shown = nullptr;
  GList* windows = gtk_window_list_toplevels();
  for (GList* window = windows; window; window = window->next) {
    GtkWidget* child = gtk_bin_get_child(GTK_BIN(window->data));
    if (child && GTK_IS_MENU(child) && gtk_widget_get_mapped(child)) {
      shown = GTK_MENU(child);
    }
  }
  g_list_free(windows);
  return shown;
}

class StatusNotifierOnTheBarTest : public StatusNotifierTest {
 protected:
  // An XEmbed tray beside the watcher, for the icon the item falls back to.
  void SetUp() override { ASSERT_TRUE(test_support::startTray()) << "no tray"; }

  // Whether the item shows as an icon in the tray, and so not on the bus: the
  // tray has embedded the plug of a status icon and it is on screen.
  bool inTray() {
    bool embedded = false;
    GList* windows = gtk_window_list_toplevels();
    for (GList* window = windows; window; window = window->next) {
      embedded =
          embedded || (GTK_IS_PLUG(window->data) && gtk_plug_get_embedded(GTK_PLUG(window->data)) &&
                       gtk_widget_get_mapped(GTK_WIDGET(window->data)));
    }
    g_list_free(windows);
    return embedded && !owned(itemName(1));
  }
};

// The host's button gets its clicks from whichever presenter shows the item:
// the tray icon without a watcher or while no panel has registered with it,
// the item while one has, the tray icon again when the watcher goes, the item
// again when another comes.
TEST_F(StatusNotifierOnTheBarTest, ClicksReachTheButtonWhicheverPresenterShowsTheItem) {
  auto item = desktop.statusBar().statusItemWithLength(platform::NSSquareStatusItemLength);
  auto button = item->button();
  button->setTitle("T");
  auto target = std::make_shared<RecordingTarget>(desktop.application());
  button->setAction("statusBarButtonClicked");
  button->setTarget(target);
  button->sendActionOn(platform::NSEventMaskLeftMouseUp | platform::NSEventMaskRightMouseUp);
  ASSERT_TRUE(runUntil([&] { return inTray(); })) << "no watcher: the tray icon";

  auto* panel = panels.emplace_back(startPanel({"--no-host"})).get();
  ASSERT_TRUE(panel->waitFor("asked IsStatusNotifierHostRegistered"));
  EXPECT_TRUE(inTray()) << "no panel shows items yet";
  panel->ask("host on", "host on");
  ASSERT_TRUE(panel->waitFor("registered " + itemName(1)));
  panel->ask("call Activate 1 1", "reply Activate");
  panel->ask("call ContextMenu 1 1", "reply ContextMenu");
  ASSERT_TRUE(runUntil([&] { return target->events.size() == 2; }));
  EXPECT_EQ(target->events,
            (std::vector<EventType>{EventType::leftMouseUp, EventType::rightMouseUp}));

  panel->ask("host off", "host off");
  ASSERT_TRUE(runUntil([&] { return inTray(); })) << "the panel left: the tray icon";
  panel->ask("host on", "host on");
  ASSERT_TRUE(panel->waitFor("registered " + itemName(1)));
  panel->stop();
  ASSERT_TRUE(runUntil([&] { return inTray(); })) << "the watcher went: the tray icon";

  panel = panels.emplace_back(startPanel()).get();
  ASSERT_TRUE(panel->waitFor("registered " + itemName(1)));
  EXPECT_EQ(panel->properties()["ToolTip"], "|0||");
  panel->ask("call Activate 1 1", "reply Activate");
  ASSERT_TRUE(runUntil([&] { return target->events.size() == 3; }));
  EXPECT_EQ(target->events.back(), EventType::leftMouseUp);
}

// The host's own status item and menu, shown by a panel.
class HostStatusItemTest : public StatusNotifierOnTheBarTest {
 protected:
  void SetUp() override {
    StatusNotifierOnTheBarTest::SetUp();
    host = std::make_shared<AppDelegate>(desktop);
    desktop.application().setDelegate(host);
    panel = panels.emplace_back(startPanel()).get();
    host->setupStatusItem();
    ASSERT_TRUE(host->statusItem);
    ASSERT_TRUE(panel->waitFor("registered " + itemName(1)));
  }

  // Runs `step` every few milliseconds until it returns true, also inside the
  // loop of a menu that the item opened itself.
  GSourcePtr drive(std::function<bool()> step) {
    return platform::gtk::addMainTimeout(10, [step = std::move(step), done = false]() mutable {
      done = done || step();
      return true;
    });
  }

  std::shared_ptr<AppDelegate> host;
  Panel* panel = nullptr;
  int terminations = 0;
};

// A panel that reads the layout before any right click finds Quit there; the
// choice made in its menu ends the host.
TEST_F(HostStatusItemTest, QuitIsInThePanelsMenuAndChoosingItEndsTheHost) {
  auto hook = desktop.application().addTerminationHook([&] { ++terminations; });
  EXPECT_EQ(
      panel->layout(),
      std::vector<std::string>{"entry 1 label=Quit shortcut=Control+q enabled=true visible=true"});
  EXPECT_EQ(panel->ask("about-to-show 0", "reply AboutToShow"), "reply AboutToShow false");
  EXPECT_FALSE(desktop.application().isTerminating());
  EXPECT_EQ(panel->ask("event 0 closed", "reply Event"), "reply Event ok");
  EXPECT_EQ(panel->ask("event 1 clicked", "reply Event"), "reply Event ok");
  ASSERT_TRUE(runUntil([&] { return desktop.application().isTerminating(); }));
  EXPECT_EQ(terminations, 1);
}

// A panel that leaves the menu to the item: it opens at the pointer, and the
// user's choice there ends the host.
TEST_F(HostStatusItemTest, ContextMenuOpensTheHostsMenuAtThePointer) {
  std::vector<std::string> labels;
  auto driver = drive([&] {
    GtkMenu* menu = menuOnScreen();
    if (!menu) {
      return false;
    }
    GList* children = gtk_container_get_children(GTK_CONTAINER(menu));
    for (GList* child = children; child; child = child->next) {
      GtkWidget* label = gtk_bin_get_child(GTK_BIN(child->data));
      guint key = 0;
      GdkModifierType modifiers{};
      gtk_accel_label_get_accel(GTK_ACCEL_LABEL(label), &key, &modifiers);
      labels.push_back(std::string(gtk_label_get_text(GTK_LABEL(label))) + " " +
                       platform::gtk::GCharPtr(gtk_accelerator_get_label(key, modifiers)).get());
    }
    g_list_free(children);
    session().spawn({"xdotool", "key", "Down", "Return"});
    return true;
  });
  EXPECT_EQ(panel->ask("call ContextMenu 5 5", "reply ContextMenu"), "reply ContextMenu ok");
  ASSERT_TRUE(runUntil([&] { return desktop.application().isTerminating(); }));
  EXPECT_EQ(labels, std::vector<std::string>{"Quit Ctrl+Q"});
}

// The watcher going while the item's own menu is open: the item stays until
// the menu has closed, then the tray icon takes over.
TEST_F(HostStatusItemTest, TheItemStaysUntilItsOpenMenuHasClosed) {
  bool vanished = false;
  auto watch = platform::gtk::DBusHandle::watchedName(
      bus.get(),
      g_bus_watch_name_on_connection(
          bus.get(), platform::gtk::kStatusNotifierWatcherName, G_BUS_NAME_WATCHER_FLAGS_NONE,
          nullptr,
          [](GDBusConnection*, const gchar*, gpointer flag) { *static_cast<bool*>(flag) = true; },
          &vanished, nullptr));
  int step = 0;
  bool marker = false;
  bool stayed = false;
  GSourcePtr markerSource;
  auto driver = drive([&] {
    if (step == 0 && menuOnScreen()) {
      panel->stop();
      step = 1;
    } else if (step == 1 && vanished) {
      // Runs after whatever the chooser queued when it heard of it.
      markerSource = platform::gtk::addMainTimeout(0, [&] {
        marker = true;
        return false;
      });
      step = 2;
    } else if (step == 2 && marker) {
      stayed = owned(itemName(1)) && menuOnScreen();
      session().spawn({"xdotool", "key", "Escape"});
      return true;
    }
    return false;
  });
  EXPECT_TRUE(panel->ask("call ContextMenu 5 5", "reply ContextMenu"));
  EXPECT_TRUE(stayed);
  ASSERT_TRUE(runUntil([&] { return inTray(); }));
  EXPECT_FALSE(desktop.application().isTerminating());
}

}  // namespace
}  // namespace lumivane
