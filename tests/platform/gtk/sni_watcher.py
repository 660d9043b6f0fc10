#!/usr/bin/python3
"""A minimal StatusNotifierWatcher and tray host for the status item's tests.

Owns org.kde.StatusNotifierWatcher on the session bus, keeps the items that
register, and acts as the panel that shows them: commands on standard input
call the latest item and its menu, and everything it sees is printed as one
line on standard output.

  --no-host           start with no tray host registered

Commands (one per line):
  props               the item's properties: "prop NAME VALUE"..., "props-done"
  call METHOD ARGS... an item method (Activate X Y, ContextMenu X Y,
                      SecondaryActivate X Y, Scroll DELTA ORIENTATION):
                      "reply METHOD ok" or "reply METHOD error NAME"
  layout              the menu's layout: "layout REVISION",
                      "entry ID label=L shortcut=S enabled=E visible=V"...,
                      "layout-done"; or "reply GetLayout error NAME"
  layout-of ID        the layout under ID: "layout ..." as above, or an error
  about-to-show ID    "reply AboutToShow true|false", or an error
  event ID EVENT      Event(ID, EVENT): "reply Event ok", or an error
  host on|off         a tray host registers or leaves: "host on|off"
  own NAME            takes NAME on the bus: "owned NAME" or "not-owned NAME"

Printed unasked: "ready" once the watcher's name is held,
"registered SERVICE SENDER" for each registration, "unregistered ITEM" when an
item's connection or name goes, "signal MEMBER ARGS..." for the item's and
menu's signals, "asked NAME" when one of the watcher's properties is read.
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM_INTERFACE = "org.kde.StatusNotifierItem"
MENU_INTERFACE = "com.canonical.dbusmenu"
PROPERTIES = "org.freedesktop.DBus.Properties"
TIMEOUT = 120
# What a command's error reply is called by: the D-Bus method it called.
REPLY_TAGS = {"props": "GetAll", "layout": "GetLayout", "layout-of": "GetLayout",
              "about-to-show": "AboutToShow", "event": "Event", "own": "RequestName"}


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


def text(value):
    if isinstance(value, (dbus.Boolean, bool)):
        return "true" if value else "false"
    if isinstance(value, dbus.Array) and value.signature == "(iiay)":
        return " ".join(pixmap(p) for p in value) or "none"
    if isinstance(value, dbus.Struct) and len(value) == 4:
        # ToolTip: icon name, pixmaps, title, text.
        return "%s|%s|%s|%s" % (value[0], len(value[1]), value[2], value[3])
    return str(value)


def pixmap(p):
    width, height, data = int(p[0]), int(p[1]), bytes(p[2])
    inked = sum(1 for i in range(0, len(data), 4) if data[i] > 128)
    return "%dx%d:%d:%d" % (width, height, len(data), inked)


class Watcher(dbus.service.Object):
    def __init__(self, bus, host):
        super().__init__(bus, WATCHER_PATH)
        self.bus = bus
        self.current = None
        self.items = []
        self.host = host
        self.watches = {}

    # --- org.kde.StatusNotifierWatcher -------------------------------------
    @dbus.service.method(WATCHER, in_signature="s", out_signature="", sender_keyword="sender")
    def RegisterStatusNotifierItem(self, service, sender=None):
        if service.startswith("/"):
            bus_name, path = sender, service
        else:
            bus_name, path = service, "/StatusNotifierItem"
        item = bus_name + path
        if item not in self.items:
            self.items.append(item)
        self.current = (bus_name, path)
        say("registered", service, sender)
        self.StatusNotifierItemRegistered(item)

        def owner_changed(owner, item=item, bus_name=bus_name):
            if owner == "" and item in self.items:
                self.items.remove(item)
                say("unregistered", item)
                self.StatusNotifierItemUnregistered(item)

        if bus_name not in self.watches:
            self.watches[bus_name] = self.bus.watch_name_owner(bus_name, owner_changed)

    @dbus.service.method(WATCHER, in_signature="s", out_signature="")
    def RegisterStatusNotifierHost(self, service):
        self.set_host(True)

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemRegistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="s")
    def StatusNotifierItemUnregistered(self, item):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostRegistered(self):
        pass

    @dbus.service.signal(WATCHER, signature="")
    def StatusNotifierHostUnregistered(self):
        pass

    def set_host(self, registered):
        self.host = registered
        if registered:
            self.StatusNotifierHostRegistered()
        else:
            self.StatusNotifierHostUnregistered()

    # --- org.freedesktop.DBus.Properties -----------------------------------
    def properties(self):
        return {
            "RegisteredStatusNotifierItems": dbus.Array(self.items, signature="s"),
            "IsStatusNotifierHostRegistered": dbus.Boolean(self.host),
            "ProtocolVersion": dbus.Int32(0),
        }

    @dbus.service.method(PROPERTIES, in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        say("asked", name)
        props = self.properties()
        if interface != WATCHER or name not in props:
            raise dbus.exceptions.DBusException(
                "no property " + name, name="org.freedesktop.DBus.Error.UnknownProperty")
        return props[name]

    @dbus.service.method(PROPERTIES, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        return self.properties() if interface == WATCHER else {}


class Panel:
    """The tray host's side: calls on the latest registered item."""

    def __init__(self, bus, watcher):
        self.bus = bus
        self.watcher = watcher

    def item(self):
        if not self.watcher.current:
            raise dbus.exceptions.DBusException("no item has registered",
                                                name="org.freedesktop.DBus.Error.Failed")
        bus_name, path = self.watcher.current
        return self.bus.get_object(bus_name, path, introspect=False)

    def menu(self):
        bus_name, _ = self.watcher.current
        path = self.item().Get(ITEM_INTERFACE, "Menu", dbus_interface=PROPERTIES, timeout=TIMEOUT)
        return self.bus.get_object(bus_name, path, introspect=False)

    def run(self, words):
        command, args = words[0], words[1:]
        if command == "props":
            props = self.item().GetAll(ITEM_INTERFACE, dbus_interface=PROPERTIES, timeout=TIMEOUT)
            for name in sorted(props):
                say("prop", name, text(props[name]))
            say("props-done")
        elif command == "call":
            method = args[0]
            if method == "Scroll":
                values = (dbus.Int32(int(args[1])), dbus.String(args[2]))
            else:
                values = (dbus.Int32(int(args[1])), dbus.Int32(int(args[2])))
            self.item().get_dbus_method(method, ITEM_INTERFACE)(*values, timeout=TIMEOUT)
            say("reply", method, "ok")
        elif command in ("layout", "layout-of"):
            parent = int(args[0]) if args else 0
            revision, root = self.menu().GetLayout(
                dbus.Int32(parent), dbus.Int32(-1), dbus.Array([], signature="s"),
                dbus_interface=MENU_INTERFACE, timeout=TIMEOUT)
            say("layout", int(revision))
            nodes = [root] if parent != 0 else list(root[2])
            for child in nodes:
                props = child[1]
                shortcut = "+".join("+".join(c) for c in props.get("shortcut", [])) or "none"
                say("entry", int(child[0]), "label=%s" % props.get("label", ""),
                    "shortcut=%s" % shortcut, "enabled=%s" % text(props.get("enabled", True)),
                    "visible=%s" % text(props.get("visible", True)))
            say("layout-done")
        elif command == "about-to-show":
            need = self.menu().AboutToShow(dbus.Int32(int(args[0])),
                                           dbus_interface=MENU_INTERFACE, timeout=TIMEOUT)
            say("reply", "AboutToShow", text(need))
        elif command == "event":
            self.menu().Event(dbus.Int32(int(args[0])), args[1],
                              dbus.Int32(0, variant_level=1), dbus.UInt32(0),
                              dbus_interface=MENU_INTERFACE, timeout=TIMEOUT)
            say("reply", "Event", "ok")
        elif command == "host":
            self.watcher.set_host(args[0] == "on")
            say("host", args[0])
        elif command == "own":
            result = self.bus.request_name(args[0], dbus.bus.NAME_FLAG_DO_NOT_QUEUE)
            say("owned" if result == dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER else "not-owned",
                args[0])
        else:
            say("unknown", command)


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    loop = GLib.MainLoop()
    watcher = Watcher(bus, host="--no-host" not in sys.argv[1:])
    panel = Panel(bus, watcher)

    def on_signal(*args, **keywords):
        say("signal", keywords["member"], *[text(a) for a in args])

    for interface in (ITEM_INTERFACE, MENU_INTERFACE):
        bus.add_signal_receiver(on_signal, dbus_interface=interface, member_keyword="member")

    ready = []

    def on_acquired(name):
        if name == WATCHER and not ready:
            ready.append(True)
            say("ready")

    bus.add_signal_receiver(on_acquired, signal_name="NameAcquired",
                            dbus_interface="org.freedesktop.DBus")
    # Queued behind a watcher that is still going: ready once it has gone.
    if bus.request_name(WATCHER, 0) == dbus.bus.REQUEST_NAME_REPLY_PRIMARY_OWNER:
        on_acquired(WATCHER)

    def on_input(source, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        if words:
            try:
                panel.run(words)
            except dbus.exceptions.DBusException as error:
                tag = words[1] if words[0] == "call" and len(words) > 1 else words[0]
                say("reply", REPLY_TAGS.get(words[0], tag), "error", error.get_dbus_name())
        return True

    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, on_input)
    loop.run()


if __name__ == "__main__":
    main()
