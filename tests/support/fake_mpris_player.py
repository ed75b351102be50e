#!/usr/bin/python3
"""A music player for the tests, as small as MPRIS allows: it owns
org.mpris.MediaPlayer2.NAME on the session bus, answers Get/GetAll of
org.mpris.MediaPlayer2.Player and sends PropertiesChanged when told to
change. It plays nothing.

Usage: fake_mpris_player.py NAME CONTROL_FIFO [JSON]
JSON (and each line written to CONTROL_FIFO) is an object with any of
  "status": "Playing" | "Paused" | "Stopped"
  "title", "artist" (a list), "album", "artUrl", "trackid", "length"
  "quit": true    leave the bus and end
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

    def apply(self, change):
        changed = {}
        meta_keys = {"title": "xesam:title", "artist": "xesam:artist", "album": "xesam:album",
                     "artUrl": "mpris:artUrl", "trackid": "mpris:trackid", "length": "mpris:length"}
        if any(k in change for k in meta_keys):
            meta = dict(self.metadata)
            for key, field in meta_keys.items():
                if key not in change:
                    continue
                value = change[key]
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

    def properties(self):
        return {"PlaybackStatus": dbus.String(self.status), "Metadata": self.metadata,
                "CanPlay": True, "CanPause": True}

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="ss", out_signature="v")
    def Get(self, interface, prop):
        return self.properties()[prop]

    @dbus.service.method(dbus.PROPERTIES_IFACE, in_signature="s", out_signature="a{sv}")
    def GetAll(self, interface):
        if interface != PLAYER:
            return dbus.Dictionary({}, signature="sv")
        return dbus.Dictionary(self.properties(), signature="sv")

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
