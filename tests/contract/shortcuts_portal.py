#!/usr/bin/python3
"""A desktop portal that offers global shortcuts only, for the hot keys' tests.

Owns org.freedesktop.portal.Desktop on the session bus and binds each
session's shortcuts to the triggers asked for, as a desktop that asks the user
nothing would. Prints "ready" once the name is held. Commands on standard
input, one a line:
  press TRIGGER    the user presses TRIGGER ("CTRL+SHIFT+t"): Activated and
                   Deactivated for every shortcut bound to it; prints
                   "pressed N" with N the shortcuts it went to
  refuse TRIGGER   binding TRIGGER fails from now on (another application
                   holds it); prints "refused TRIGGER"
"""

import sys

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

NAME = "org.freedesktop.portal.Desktop"
PATH = "/org/freedesktop/portal/desktop"
SHORTCUTS = "org.freedesktop.portal.GlobalShortcuts"


def say(*words):
    print(" ".join(str(w) for w in words), flush=True)


class Request(dbus.service.Object):
    """A request's object; answers once the method has returned, then goes."""

    def __init__(self, bus, path, response, results):
        super().__init__(bus, path)
        GLib.idle_add(self.answer, response, results)

    @dbus.service.signal("org.freedesktop.portal.Request", signature="ua{sv}")
    def Response(self, response, results):
        pass

    def answer(self, response, results):
        self.Response(dbus.UInt32(response), results)
        self.remove_from_connection()
        return False


class Session(dbus.service.Object):
    def __init__(self, portal, path):
        super().__init__(portal.bus, path)
        self.portal, self.path, self.bound = portal, path, {}

    @dbus.service.method("org.freedesktop.portal.Session")
    def Close(self):
        self.portal.sessions.pop(self.path, None)
        self.remove_from_connection()


class Portal(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, PATH)
        self.bus, self.sessions, self.refused = bus, {}, set()

    def request(self, sender, options, response, results):
        path = "%s/request/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["handle_token"])
        Request(self.bus, path, response, results)
        return dbus.ObjectPath(path)

    @dbus.service.method(SHORTCUTS, in_signature="a{sv}", out_signature="o", sender_keyword="sender")
    def CreateSession(self, options, sender=None):
        path = "%s/session/%s/%s" % (PATH, sender[1:].replace(".", "_"), options["session_handle_token"])
        self.sessions[path] = Session(self, path)
        return self.request(sender, options, 0, {"session_handle": path})

    @dbus.service.method(SHORTCUTS, in_signature="oa(sa{sv})sa{sv}", out_signature="o",
                         sender_keyword="sender")
    def BindShortcuts(self, session, shortcuts, parent, options, sender=None):
        triggers = {str(i): str(d.get("preferred_trigger", "")) for i, d in shortcuts}
        if session not in self.sessions or self.refused & set(triggers.values()):
            return self.request(sender, options, 2, {})
        self.sessions[session].bound = triggers
        bound = dbus.Array([(i, {"trigger_description": t}) for i, t in triggers.items()],
                           signature="(sa{sv})")
        return self.request(sender, options, 0, {"shortcuts": bound})

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Activated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.signal(SHORTCUTS, signature="osta{sv}")
    def Deactivated(self, session, shortcut, timestamp, options):
        pass

    @dbus.service.method("org.freedesktop.DBus.Properties", in_signature="ss", out_signature="v")
    def Get(self, interface, name):
        if interface != SHORTCUTS or name != "version":
            raise dbus.exceptions.DBusException(
                "no property " + name, name="org.freedesktop.DBus.Error.UnknownProperty")
        return dbus.UInt32(1)

    def press(self, trigger):
        pressed = [(s, i) for s, session in self.sessions.items()
                   for i, t in session.bound.items() if t == trigger]
        for session, shortcut in pressed:
            self.Activated(dbus.ObjectPath(session), shortcut, dbus.UInt64(0), {})
            self.Deactivated(dbus.ObjectPath(session), shortcut, dbus.UInt64(0), {})
        say("pressed", len(pressed))


def main():
    dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    portal = Portal(bus)
    bus.request_name(NAME)
    say("ready")

    def command(channel, condition):
        line = sys.stdin.readline()
        if not line:
            loop.quit()
            return False
        words = line.split()
        if words[:1] == ["press"]:
            portal.press(words[1])
        elif words[:1] == ["refuse"]:
            portal.refused.add(words[1])
            say("refused", words[1])
        return True

    loop = GLib.MainLoop()
    GLib.io_add_watch(sys.stdin, GLib.IO_IN | GLib.IO_HUP, command)
    loop.run()


main()
