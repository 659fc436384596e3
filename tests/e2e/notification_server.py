"""A desktop notification service for the tests: owns org.freedesktop.Notifications on the session bus it is
given and prints each notification as one JSON line. Prints "ready" once the name is its own."""

import json

import dbus
import dbus.mainloop.glib
import dbus.service
from gi.repository import GLib

INTERFACE = "org.freedesktop.Notifications"


class Notifications(dbus.service.Object):
    def __init__(self, bus):
        super().__init__(bus, "/org/freedesktop/Notifications")
        self.last_id = 0

    @dbus.service.method(INTERFACE, in_signature="susssasa{sv}i", out_signature="u")
    def Notify(self, app, replaces, icon, summary, body, actions, hints, timeout):
        self.last_id += 1
        print(json.dumps({"app": str(app), "icon": str(icon), "summary": str(summary), "body": str(body),
                          "desktop-entry": str(hints.get("desktop-entry", ""))}), flush=True)
        return self.last_id

    @dbus.service.method(INTERFACE, out_signature="as")
    def GetCapabilities(self):
        return ["body"]

    @dbus.service.method(INTERFACE, out_signature="ssss")
    def GetServerInformation(self):
        return ("nimbrel-test", "nimbrel", "1", "1.2")

    @dbus.service.method(INTERFACE, in_signature="u")
    def CloseNotification(self, notification_id):
        pass


dbus.mainloop.glib.DBusGMainLoop(set_as_default=True)
bus = dbus.SessionBus()
name = dbus.service.BusName(INTERFACE, bus, do_not_queue=True)
service = Notifications(bus)
print("ready", flush=True)
GLib.MainLoop().run()
