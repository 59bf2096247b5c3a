#!/usr/bin/python3
"""A StatusNotifier host for the tests: owns org.kde.StatusNotifierWatcher on
the session bus (with a host registered, as a panel would), and for every
item that registers prints one JSON line with what a panel reads from it:
its properties and the labels of its menu (com.canonical.dbusmenu). Prints
{"unregistered": ...} when the item leaves the bus.

A line "click LABEL" on standard input clicks that menu item of the last
registered item, as a panel does when the user picks it.

  sni_watcher.py            runs until SIGTERM or standard input closes
"""
import json
import signal
import sys
import time

import gi

gi.require_version("Gio", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
ITEM = "org.kde.StatusNotifierItem"
MENU = "com.canonical.dbusmenu"
XML = """
<node><interface name="org.kde.StatusNotifierWatcher">
  <method name="RegisterStatusNotifierItem"><arg type="s" direction="in"/></method>
  <method name="RegisterStatusNotifierHost"><arg type="s" direction="in"/></method>
  <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
  <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
  <property name="ProtocolVersion" type="i" access="read"/>
  <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
  <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
  <signal name="StatusNotifierHostRegistered"/>
</interface></node>"""

items = {}  # "bus/path" -> (bus name, object path)
last = None
bus = None


def say(obj):
    print(json.dumps(obj, ensure_ascii=False), flush=True)


def call(name, path, iface, method, args, reply):
    return bus.call_sync(name, path, iface, method, args, GLib.VariantType(reply),
                         Gio.DBusCallFlags.NONE, 5000, None).unpack()


def labels(layout, root=True):
    """The labels of the menu's items, in order (the root is no item)."""
    _, props, children = layout
    out = [] if root or "label" not in props else [props["label"]]
    for child in children:
        out.extend(labels(child, False))
    return out


def find_id(layout, label):
    node_id, props, children = layout
    if props.get("label") == label:
        return node_id
    for child in children:
        found = find_id(child, label)
        if found is not None:
            return found
    return None


def describe(name, path):
    props = call(name, path, "org.freedesktop.DBus.Properties", "GetAll",
                 GLib.Variant("(s)", (ITEM,)), "(a{sv})")[0]
    menu_path = props.get("Menu", "/")
    layout = call(name, menu_path, MENU, "GetLayout",
                  GLib.Variant("(iias)", (0, -1, ["label"])), "(u(ia{sv}av))")[1]
    return {"registered": name + path,
            "id": props.get("Id"), "title": props.get("Title"), "status": props.get("Status"),
            "icon_name": props.get("IconName"), "icon_theme_path": props.get("IconThemePath"),
            "menu": labels(layout)}, menu_path


def on_call(connection, sender, path, iface, method, params, invocation):
    global last
    if method == "RegisterStatusNotifierItem":
        service = params.unpack()[0]
        name, item_path = (sender, service) if service.startswith("/") else (service, "/StatusNotifierItem")
        invocation.return_value(None)
        key = name + item_path
        items[key] = (name, item_path)
        connection.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierItemRegistered",
                               GLib.Variant("(s)", (key,)))

        def report():
            global last
            try:
                info, menu_path = describe(name, item_path)
            except GLib.Error as e:
                say({"registered": key, "error": e.message})
                return False
            last = (name, menu_path)
            say(info)
            return False

        # Read it once the item has answered the call that registered it.
        GLib.timeout_add(200, report)

        def gone(conn, vanished):
            if items.pop(key, None):
                say({"unregistered": key})
                conn.emit_signal(None, "/StatusNotifierWatcher", WATCHER, "StatusNotifierItemUnregistered",
                                 GLib.Variant("(s)", (key,)))

        Gio.bus_watch_name_on_connection(connection, name, Gio.BusNameWatcherFlags.NONE, None, gone)
    else:
        invocation.return_value(None)


def on_get(connection, sender, path, iface, prop):
    if prop == "RegisteredStatusNotifierItems":
        return GLib.Variant("as", list(items))
    if prop == "IsStatusNotifierHostRegistered":
        return GLib.Variant("b", True)
    return GLib.Variant("i", 0)


def on_input(channel, condition):
    line = sys.stdin.readline()
    if not line:
        loop.quit()
        return False
    words = line.strip().split(" ", 1)
    if words[0] == "click" and last:
        name, menu_path = last
        layout = call(name, menu_path, MENU, "GetLayout",
                      GLib.Variant("(iias)", (0, -1, ["label"])), "(u(ia{sv}av))")[1]
        node = find_id(layout, words[1])
        if node is None:
            say({"click": words[1], "error": "no such item"})
        else:
            call(name, menu_path, MENU, "Event",
                 GLib.Variant("(isvu)", (node, "clicked", GLib.Variant("i", 0), int(time.time()))), "()")
            say({"click": words[1]})
    return True


def on_bus(connection, name):
    global bus
    bus = connection
    info = Gio.DBusNodeInfo.new_for_xml(XML).interfaces[0]
    connection.register_object("/StatusNotifierWatcher", info, on_call, on_get, None)


def on_name(connection, name):
    say({"watcher": "owned"})


def on_lost(connection, name):
    say({"watcher": "lost"})
    loop.quit()


loop = GLib.MainLoop()
Gio.bus_own_name(Gio.BusType.SESSION, WATCHER, Gio.BusNameOwnerFlags.NONE, on_bus, on_name, on_lost)
GLib.io_add_watch(GLib.IOChannel.unix_new(sys.stdin.fileno()), GLib.IO_IN | GLib.IO_HUP, on_input)
GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signal.SIGTERM, loop.quit)
loop.run()
