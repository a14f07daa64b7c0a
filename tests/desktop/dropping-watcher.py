#!/usr/bin/python3
"""A StatusNotifierWatcher whose host drops every item it is given, the
first DROPS times (all of them when DROPS is -1), half a second after taking
it, and says "registered N" on stdout for each registration."""
import sys

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib

WATCHER = "org.kde.StatusNotifierWatcher"
XML = f"""<node><interface name="{WATCHER}">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
</interface></node>"""

drops = int(sys.argv[1]) if len(sys.argv) > 1 else -1
registrations = 0
items = []


def drop(connection, item):
    if item in items:
        items.remove(item)
    connection.emit_signal(None, "/StatusNotifierWatcher", WATCHER,
                           "StatusNotifierItemUnregistered", GLib.Variant("(s)", (item,)))
    return False


def call(connection, sender, path, interface, method, params, invocation):
    global registrations
    if method == "RegisterStatusNotifierItem":
        service = params.unpack()[0]
        item = f"{sender}@{service}" if service.startswith("/") else service
        items.append(item)
        registrations += 1
        print(f"registered {registrations}", flush=True)
        connection.emit_signal(None, "/StatusNotifierWatcher", WATCHER,
                               "StatusNotifierItemRegistered", GLib.Variant("(s)", (item,)))
        if drops < 0 or registrations <= drops:
            GLib.timeout_add(500, drop, connection, item)
    invocation.return_value(None)


def get(connection, sender, path, interface, name):
    return {"RegisteredStatusNotifierItems": GLib.Variant("as", items),
            "IsStatusNotifierHostRegistered": GLib.Variant("b", True),
            "ProtocolVersion": GLib.Variant("i", 0)}[name]


def acquired(connection, name):
    pass


def bus_acquired(connection, name):
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    connection.register_object("/StatusNotifierWatcher", info, call, get, None)


Gio.bus_own_name(Gio.BusType.SESSION, WATCHER, Gio.BusNameOwnerFlags.NONE, bus_acquired, acquired,
                 lambda *a: sys.exit(1))
GLib.MainLoop().run()
