#!/usr/bin/python3
# Reads Brackwater's window through AT-SPI, as a screen reader does, and
# prints one line per object: its role, then its accessible name.
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi, GLib  # noqa: E402


def walk(node, depth=0):
    try:
        print(f"{node.get_role_name()}\t{node.get_name()}")
        for i in range(node.get_child_count() if depth < 30 else 0):
            child = node.get_child_at_index(i)
            if child is not None:
                walk(child, depth + 1)
    except GLib.Error:
        pass


name = sys.argv[1] if len(sys.argv) > 1 else "brackwater"
for _ in range(100):  # up to 20 s
    desktop = Atspi.get_desktop(0)
    apps = [desktop.get_child_at_index(i) for i in range(desktop.get_child_count())]
    apps = [a for a in apps if a is not None and a.get_name().lower() == name]
    if apps:
        walk(apps[0])
        sys.exit(0)
    time.sleep(0.2)
sys.exit("no such application on the accessibility bus")
