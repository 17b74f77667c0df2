#!/usr/bin/env python3
"""The part of a desktop shell that hosts tray icons over D-Bus, for the tests.

Plasma, GNOME's AppIndicator extension, waybar and the like run a
StatusNotifierWatcher that items register with, and a host that reads each
item's properties and draws it. On X11, Qt only takes that road when a
watcher with a registered host is on the session bus at the moment the icon
is created, so `host` is both, and stays up for the whole test. The other commands are one
look or one click each, done the way a host does them.

  sni_host.py host LOG [ICON_DIR]   watcher + host; writes what happens to LOG
  sni_host.py item                  "SERVICE PATH PID" of the newest registered item
  sni_host.py props                 the item's properties, one per line
  sni_host.py tooltip               the tooltip's title
  sni_host.py icon ICON_DIR         which PNG of ICON_DIR the item shows
  sni_host.py save-icon FILE        saves the item's largest picture as a PNG
  sni_host.py activate X Y          a left click on the icon
  sni_host.py menu                  the menu, one line per entry
  sni_host.py menu-raw              the menu entries with all their properties
  sni_host.py click LABEL           a click on the menu entry labelled LABEL

Every call gives up after a few seconds: a program that stops answering
fails the test instead of hanging it.
"""

import os
import struct
import sys
import time
import zlib

import gi

gi.require_version("Gio", "2.0")
gi.require_version("GLib", "2.0")
from gi.repository import Gio, GLib  # noqa: E402

WATCHER = "org.kde.StatusNotifierWatcher"
WATCHER_PATH = "/StatusNotifierWatcher"
ITEM_IFACE = "org.kde.StatusNotifierItem"
MENU_IFACE = "com.canonical.dbusmenu"
PROPS_IFACE = "org.freedesktop.DBus.Properties"
CALL_TIMEOUT_MS = 5000

WATCHER_XML = """
<node>
  <interface name="org.kde.StatusNotifierWatcher">
    <method name="RegisterStatusNotifierItem">
      <arg name="service" type="s" direction="in"/>
    </method>
    <method name="RegisterStatusNotifierHost">
      <arg name="service" type="s" direction="in"/>
    </method>
    <property name="RegisteredStatusNotifierItems" type="as" access="read"/>
    <property name="IsStatusNotifierHostRegistered" type="b" access="read"/>
    <property name="ProtocolVersion" type="i" access="read"/>
    <signal name="StatusNotifierItemRegistered"><arg type="s"/></signal>
    <signal name="StatusNotifierItemUnregistered"><arg type="s"/></signal>
    <signal name="StatusNotifierHostRegistered"/>
    <signal name="StatusNotifierHostUnregistered"/>
  </interface>
</node>
"""


def bus():
    return Gio.bus_get_sync(Gio.BusType.SESSION, None)


def call(conn, service, path, iface, method, args=None, reply_type=None):
    return conn.call_sync(service, path, iface, method, args,
                          GLib.VariantType(reply_type) if reply_type else None,
                          Gio.DBusCallFlags.NO_AUTO_START, CALL_TIMEOUT_MS, None)


def name_owner(conn, name):
    try:
        return call(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                    "GetNameOwner", GLib.Variant("(s)", (name,)), "(s)").unpack()[0]
    except GLib.Error:
        return ""


# --- pictures ---------------------------------------------------------------

def png_pixels(path):
    """(width, height, RGBA bytes) of an 8-bit, non-interlaced RGB or RGBA PNG:
    what scripts/make-assets.py writes, read without a library to install."""
    with open(path, "rb") as f:
        data = f.read()
    if data[:8] != b"\x89PNG\r\n\x1a\n":
        raise ValueError(f"{path}: not a PNG")
    pos, idat, header = 8, b"", None
    while pos < len(data):
        length, kind = struct.unpack(">I4s", data[pos:pos + 8])
        body = data[pos + 8:pos + 8 + length]
        if kind == b"IHDR":
            header = struct.unpack(">IIBBBBB", body)
        elif kind == b"IDAT":
            idat += body
        pos += 12 + length
    width, height, depth, colour, _, _, interlace = header
    channels = {2: 3, 6: 4}.get(colour)
    if depth != 8 or channels is None or interlace:
        raise ValueError(f"{path}: only 8-bit RGB or RGBA without interlace is read here")
    raw, stride = zlib.decompress(idat), width * channels
    rows, previous = [], bytearray(stride)
    for y in range(height):
        kind, line = raw[y * (stride + 1)], bytearray(raw[y * (stride + 1) + 1:(y + 1) * (stride + 1)])
        for i in range(stride):
            left = line[i - channels] if i >= channels else 0
            up, corner = previous[i], previous[i - channels] if i >= channels else 0
            if kind == 1:
                line[i] = (line[i] + left) & 0xFF
            elif kind == 2:
                line[i] = (line[i] + up) & 0xFF
            elif kind == 3:
                line[i] = (line[i] + (left + up) // 2) & 0xFF
            elif kind == 4:
                p = left + up - corner
                pa, pb, pc = abs(p - left), abs(p - up), abs(p - corner)
                line[i] = (line[i] + (left if pa <= pb and pa <= pc else up if pb <= pc else corner)) & 0xFF
        rows.append(bytes(line))
        previous = line
    pixels = b"".join(rows)
    if channels == 3:
        pixels = b"".join(pixels[i:i + 3] + b"\xff" for i in range(0, len(pixels), 3))
    return width, height, pixels


def write_png(path, width, height, argb):
    """Saves an item's ARGB32 picture as an RGBA PNG, to look at."""
    def chunk(kind, body):
        return struct.pack(">I", len(body)) + kind + body + struct.pack(">I", zlib.crc32(kind + body))
    rows = b"".join(b"\0" + bytes(v for i in range(y * width * 4, (y + 1) * width * 4, 4)
                                   for v in (argb[i + 1], argb[i + 2], argb[i + 3], argb[i]))
                    for y in range(height))
    with open(path, "wb") as f:
        f.write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", width, height, 8, 6, 0, 0, 0))
                + chunk(b"IDAT", zlib.compress(rows)) + chunk(b"IEND", b""))


def premultiplied(a, c):
    return (a * c + 127) // 255


def distance(argb, rgba):
    """Largest difference of one premultiplied channel between an item's
    ARGB32 picture (network byte order, as the protocol sends it) and RGBA
    bytes. Premultiplied, because Qt keeps pixmaps premultiplied: colour
    under a nearly clear pixel does not survive the round trip exactly, and
    nobody can see it."""
    worst = 0
    for i in range(0, len(rgba), 4):
        a1, r1, g1, b1 = argb[i], argb[i + 1], argb[i + 2], argb[i + 3]
        r2, g2, b2, a2 = rgba[i], rgba[i + 1], rgba[i + 2], rgba[i + 3]
        worst = max(worst, abs(a1 - a2),
                    abs(premultiplied(a1, r1) - premultiplied(a2, r2)),
                    abs(premultiplied(a1, g1) - premultiplied(a2, g2)),
                    abs(premultiplied(a1, b1) - premultiplied(a2, b2)))
    return worst


def pixmaps(variant):
    """The (width, height, bytes) pictures of an a(iiay) value."""
    out = []
    for i in range(variant.n_children()):
        entry = variant.get_child_value(i)
        out.append((entry.get_child_value(0).get_int32(), entry.get_child_value(1).get_int32(),
                    bytes(entry.get_child_value(2).get_data_as_bytes().get_data())))
    return out


def classify(pictures, icon_dir):
    """Names the PNG of icon_dir that the largest picture shows, with the
    distances to each, e.g. ("lookout_info.png", "lookout.png=187 lookout_info.png=1")."""
    if not pictures:
        return "none", "no picture"
    w, h, data = max(pictures, key=lambda p: p[0] * p[1])
    best, notes = None, []
    for name in sorted(os.listdir(icon_dir)):
        if not name.endswith(".png"):
            continue
        pw, ph, rgba = png_pixels(os.path.join(icon_dir, name))
        if (pw, ph) != (w, h) or len(data) != len(rgba):
            continue
        d = distance(data, rgba)
        notes.append(f"{name}={d}")
        if d <= 2 and (best is None or d < best[1]):
            best = (name, d)
    return (best[0] if best else "unknown"), f"{w}x{h}: " + " ".join(notes)


# --- the watcher and host -----------------------------------------------------

def run_host(log_path, icon_dir):
    log = open(log_path, "a", buffering=1)

    def note(text):
        log.write(f"{time.monotonic():.3f} {text}\n")

    conn = bus()
    items = []        # "service/path", in order of registration
    hosts = []
    watches = {}      # service -> NameOwnerChanged subscription

    def emit(signal, args=None):
        conn.emit_signal(None, WATCHER_PATH, WATCHER, signal, args)

    def unregister(service):
        for entry in [e for e in items if e.split("/", 1)[0] == service]:
            items.remove(entry)
            note(f"unregistered {entry}")
            emit("StatusNotifierItemUnregistered", GLib.Variant("(s)", (entry,)))
        if service in watches:
            conn.signal_unsubscribe(watches.pop(service))

    def owner_changed(_conn, _sender, _path, _iface, _signal, params):
        name, _old, new = params.unpack()
        if not new:
            unregister(name)

    def method_call(_conn, sender, _path, _iface, method, params, invocation):
        arg = params.unpack()[0]
        if method == "RegisterStatusNotifierHost":
            if arg not in hosts:
                hosts.append(arg)
                emit("StatusNotifierHostRegistered")
            invocation.return_value(None)
            return
        # As Plasma's watcher: a bus name means the object at the usual
        # path, an object path means that object of the caller.
        service, path = (sender, arg) if arg.startswith("/") else (arg, "/StatusNotifierItem")
        owner = name_owner(conn, service)
        if not owner:
            invocation.return_dbus_error("org.freedesktop.DBus.Error.ServiceUnknown",
                                         f"{service} is not on the bus")
            return
        entry = service + path
        if entry not in items:
            items.append(entry)
            watches[service] = conn.signal_subscribe(
                "org.freedesktop.DBus", "org.freedesktop.DBus", "NameOwnerChanged",
                "/org/freedesktop/DBus", service, Gio.DBusSignalFlags.NONE, owner_changed)
            note(f"registered {entry} sender={sender} owner={owner}")
            emit("StatusNotifierItemRegistered", GLib.Variant("(s)", (entry,)))
        invocation.return_value(None)

    def get_property(_conn, _sender, _path, _iface, name):
        if name == "RegisteredStatusNotifierItems":
            return GLib.Variant("as", items)
        if name == "IsStatusNotifierHostRegistered":
            return GLib.Variant("b", bool(hosts))
        if name == "ProtocolVersion":
            return GLib.Variant("i", 0)
        return None

    # A host redraws on these; this one writes them down, and for NewIcon
    # also what the icon shows by the time it is asked.
    def item_signal(_conn, sender, path, _iface, signal, _params):
        note(f"signal {signal} from {sender}{path}")
        if signal != "NewIcon" or not icon_dir:
            return

        def got(source, result):
            try:
                reply = source.call_finish(result)
            except GLib.Error as error:
                note(f"icon unreadable: {error.message}")
                return
            name, detail = classify(pixmaps(reply.get_child_value(0).get_variant()), icon_dir)
            note(f"icon {name} ({detail}) from {sender}{path}")

        conn.call(sender, path, PROPS_IFACE, "Get", GLib.Variant("(ss)", (ITEM_IFACE, "IconPixmap")),
                  GLib.VariantType("(v)"), Gio.DBusCallFlags.NO_AUTO_START, CALL_TIMEOUT_MS, None, got)

    conn.signal_subscribe(None, ITEM_IFACE, None, None, None, Gio.DBusSignalFlags.NONE, item_signal)
    info = Gio.DBusNodeInfo.new_for_xml(WATCHER_XML).interfaces[0]
    conn.register_object(WATCHER_PATH, info, method_call, get_property, None)

    # A host started right after the last one ended may find the bus still
    # holding a name for it for a moment.
    def own(name):
        deadline = time.monotonic() + 5
        while call(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                   "RequestName", GLib.Variant("(su)", (name, 4)), "(u)").unpack()[0] != 1:
            if time.monotonic() > deadline:
                sys.exit(f"sni_host: {name} is taken")
            time.sleep(0.05)

    # The host is registered before the watcher's name appears: whoever sees
    # the watcher sees a host with it, never a tray without one.
    host_name = f"org.kde.StatusNotifierHost-{os.getpid()}"
    own(host_name)
    hosts.append(host_name)
    own(WATCHER)
    note(f"ready watcher={WATCHER} host={host_name} unique={conn.get_unique_name()}")

    loop = GLib.MainLoop()
    for signum in (2, 15):
        GLib.unix_signal_add(GLib.PRIORITY_DEFAULT, signum, loop.quit)
    loop.run()


# --- a host's looks and clicks ------------------------------------------------

def newest_item(conn):
    items = call(conn, WATCHER, WATCHER_PATH, PROPS_IFACE, "Get",
                 GLib.Variant("(ss)", (WATCHER, "RegisteredStatusNotifierItems")), "(v)").unpack()[0]
    if not items:
        sys.exit("sni_host: no item is registered")
    entry = items[-1]
    slash = entry.index("/")
    return entry[:slash], entry[slash:]


def item_property(conn, name):
    service, path = newest_item(conn)
    return call(conn, service, path, PROPS_IFACE, "Get",
                GLib.Variant("(ss)", (ITEM_IFACE, name)), "(v)").get_child_value(0).get_variant()


def describe(value):
    """A property value as one readable line; pictures by size only."""
    sig = value.get_type_string()
    if sig == "a(iiay)":
        return "[" + ", ".join(f"{w}x{h} ARGB32 ({len(d)} bytes)" for w, h, d in pixmaps(value)) + "]"
    if sig == "(sa(iiay)ss)":
        name = value.get_child_value(0).get_string()
        pics = describe(value.get_child_value(1))
        title = value.get_child_value(2).get_string()
        text = value.get_child_value(3).get_string()
        return f"(icon name {name!r}, pictures {pics}, title {title!r}, text {text!r})"
    return f"{value.unpack()!r} ({sig})"


def menu_path(conn):
    service, _ = newest_item(conn)
    return service, item_property(conn, "Menu").unpack()


def layout(conn):
    """The menu's top-level entries as (id, properties) pairs."""
    service, path = menu_path(conn)
    # A host asks before it shows the menu; the program may fill it then.
    call(conn, service, path, MENU_IFACE, "AboutToShow", GLib.Variant("(i)", (0,)), "(b)")
    reply = call(conn, service, path, MENU_IFACE, "GetLayout",
                 GLib.Variant("(iias)", (0, -1, [])), "(u(ia{sv}av))")
    _revision, (_root, _props, children) = reply.unpack()
    return [(child[0], child[1]) for child in children]


def label_of(props):
    # Mnemonics: "_" marks one, "__" is a literal underscore.
    return props.get("label", "").replace("__", "\0").replace("_", "").replace("\0", "_")


def main(argv):
    if len(argv) < 2:
        sys.exit(__doc__)
    command, args = argv[1], argv[2:]
    if command == "host":
        run_host(args[0], args[1] if len(args) > 1 else None)
        return
    conn = bus()
    if command == "item":
        service, path = newest_item(conn)
        pid = call(conn, "org.freedesktop.DBus", "/org/freedesktop/DBus", "org.freedesktop.DBus",
                   "GetConnectionUnixProcessID", GLib.Variant("(s)", (service,)), "(u)").unpack()[0]
        print(service, path, pid)
    elif command == "props":
        service, path = newest_item(conn)
        values = call(conn, service, path, PROPS_IFACE, "GetAll",
                      GLib.Variant("(s)", (ITEM_IFACE,)), "(a{sv})").get_child_value(0)
        for i in range(values.n_children()):
            entry = values.get_child_value(i)
            print(f"{entry.get_child_value(0).get_string()} = {describe(entry.get_child_value(1).get_variant())}")
    elif command == "tooltip":
        print(item_property(conn, "ToolTip").get_child_value(2).get_string())
    elif command == "icon":
        name, detail = classify(pixmaps(item_property(conn, "IconPixmap")), args[0])
        icon_name = item_property(conn, "IconName").get_string()
        print(name, f"({detail}; IconName {icon_name!r})")
    elif command == "save-icon":
        pictures = pixmaps(item_property(conn, "IconPixmap"))
        if not pictures:
            sys.exit("sni_host: the item has no picture")
        write_png(args[0], *max(pictures, key=lambda p: p[0] * p[1]))
    elif command == "activate":
        service, path = newest_item(conn)
        call(conn, service, path, ITEM_IFACE, "Activate", GLib.Variant("(ii)", (int(args[0]), int(args[1]))))
    elif command == "menu":
        for ident, props in layout(conn):
            kind = props.get("type", "standard")
            line = [str(ident), kind]
            if kind != "separator":
                line.append(label_of(props))
                if "toggle-type" in props:
                    line.append(f"{props['toggle-type']}={props.get('toggle-state', -1)}")
                if props.get("icon-name") or props.get("icon-data"):
                    line.append("icon")
                if not props.get("enabled", True):
                    line.append("disabled")
                if not props.get("visible", True):
                    line.append("hidden")
            print("\t".join(line))
    elif command == "menu-raw":
        for ident, props in layout(conn):
            shown = {}
            for key, value in sorted(props.items()):
                if key == "icon-data":
                    value = bytes(value)
                    size = struct.unpack(">II", value[16:24]) if value[:8] == b"\x89PNG\r\n\x1a\n" else ("?", "?")
                    value = f"<PNG {size[0]}x{size[1]}, {len(value)} bytes>"
                shown[key] = value
            print(ident, shown)
    elif command == "click":
        matches = [ident for ident, props in layout(conn) if label_of(props) == args[0]]
        if len(matches) != 1:
            sys.exit(f"sni_host: {len(matches)} menu entries labelled {args[0]!r}")
        service, path = menu_path(conn)
        stamp = int(time.monotonic() * 1000) & 0xFFFFFFFF
        call(conn, service, path, MENU_IFACE, "Event",
             GLib.Variant("(isvu)", (matches[0], "clicked", GLib.Variant("i", 0), stamp)))
    else:
        sys.exit(f"sni_host: unknown command {command!r}\n{__doc__}")


if __name__ == "__main__":
    try:
        main(sys.argv)
    except GLib.Error as error:
        sys.exit(f"sni_host: {error.message}")
