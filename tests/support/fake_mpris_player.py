#!/usr/bin/python3
"""A music player for the tests, as small as MPRIS allows: it owns
org.mpris.MediaPlayer2.NAME on the session bus, answers Get/GetAll of
org.mpris.MediaPlayer2.Player and sends PropertiesChanged when told to
change. It plays nothing.

Usage: fake_mpris_player.py NAME CONTROL_FIFO [JSON]
JSON (and each line written to CONTROL_FIFO) is an object with any of
  "status": "Playing" | "Paused" | "Stopped"
  "title", "artist" (a list), "album", "artUrl", "trackid", "length"
  "repeat": N     the title given N times over (a title of megabytes)
  "quit": true    leave the bus and end
  "hangs": true   from now on never answer Get or GetAll, as a player
                  stuck in its own work (its changes are still signalled);
                  each call left unanswered is counted on stderr
                  ("unanswered N")
  "invalidate": N send PropertiesChanged N times with Metadata invalidated
                  (no values): each asks a watcher to read the player again
"""
import json
import os
import sys

import dbus
import dbus.service
from dbus.mainloop.glib import DBusGMainLoop
from gi.repository import GLib

PLAYER = "org.mpris.MediaPlayer2.Player"
PATH = "/org/mpris/MediaPlayer2"


class Player(dbus.service.Object):
    def __init__(self, bus, name):
        self.bus_name = dbus.service.BusName("org.mpris.MediaPlayer2." + name, bus)
        super().__init__(bus, PATH)
        self.status = "Stopped"
        self.metadata = dbus.Dictionary({}, signature="sv")
        self.hangs = False
        self.unanswered = []   # the calls left hanging, kept so that none is answered by its collection

    def apply(self, change):
        if "hangs" in change:
            self.hangs = bool(change["hangs"])
        for _ in range(int(change.get("invalidate", 0))):
            self.PropertiesChanged(PLAYER, dbus.Dictionary({}, signature="sv"), dbus.Array(["Metadata"], signature="s"))
        changed = {}
        meta_keys = {"title": "xesam:title", "artist": "xesam:artist", "album": "xesam:album",
                     "artUrl": "mpris:artUrl", "trackid": "mpris:trackid", "length": "mpris:length"}
        if any(k in change for k in meta_keys):
            meta = dict(self.metadata)
            for key, field in meta_keys.items():
                if key not in change:
                    continue
                value = change[key]
                if key == "title":
                    value = value * int(change.get("repeat", 1))
                if key == "artist":
                    value = dbus.Array(value, signature="s")
                elif key == "trackid":
                    value = dbus.ObjectPath(value)
                elif key == "length":
                    value = dbus.Int64(value)
                else:
                    value = dbus.String(value)
                meta[field] = value
            self.metadata = dbus.Dictionary(meta, signature="sv")
            changed["Metadata"] = self.metadata
        if "status" in change:
            self.status = change["status"]
            changed["PlaybackStatus"] = dbus.String(self.status)
        if changed:
            self.PropertiesChanged(PLAYER, dbus.Dictionary(changed, signature="sv"), dbus.Array([], signature="s"))

    def hang(self, reply):
        self.unanswered.append(reply)
        print("unanswered", len(self.unanswered), file=sys.stderr, flush=True)

    def properties(self):
        return {"PlaybackStatus": dbus.String(self.status), "Metadata": self.metadata,
                "CanPlay": True, "CanPause": True}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v",
                         async_callbacks=("reply", "error"))
    def Get(self, interface, prop, reply, error):
        if self.hangs:
            self.hang(reply)
        else:
            reply(self.properties()[prop])

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}",
                         async_callbacks=("reply", "error"))
    def GetAll(self, interface, reply, error):
        if self.hangs:
            self.hang(reply)
        elif interface != PLAYER:
            reply(dbus.Dictionary({}, signature="sv"))
        else:
            reply(dbus.Dictionary(self.properties(), signature="sv"))

    @dbus.service.signal(dbus.PROPERTIES_IFACE, signature="sa{sv}as")
    def PropertiesChanged(self, interface, changed, invalidated):
        pass


def main():
    name, fifo = sys.argv[1], sys.argv[2]
    DBusGMainLoop(set_as_default=True)
    bus = dbus.SessionBus()
    player = Player(bus, name)
    if len(sys.argv) > 3:
        player.apply(json.loads(sys.argv[3]))
    loop = GLib.MainLoop()
    # Opened read-write so that the pipe never reads as ended while no test writes to it.
    control = os.fdopen(os.open(fifo, os.O_RDWR), "r")

    def on_line(source, condition):
        line = control.readline()
        if not line.strip():
            return True
        change = json.loads(line)
        if change.get("quit"):
            loop.quit()
            return False
        player.apply(change)
        return True

    GLib.io_add_watch(control, GLib.IO_IN, on_line)
    print("ready", flush=True)
    loop.run()


if __name__ == "__main__":
    main()
