#!/usr/bin/python3
# Reads Brackwater's window through AT-SPI, as a screen reader does, and
# prints one line per object: its role, then its accessible name.
import sys
import time

import gi

gi.require_version("Atspi", "2.0")
from gi.repository import Atspi  # noqa: E402


def walk(node, depth=0):
    if node is None or depth > 30:
        return
    try:
        print(f"{node.get_role_name()}\t{node.get_name()}")
        for i in range(node.get_child_count()):
            walk(node.get_child_at_index(i), depth + 1)
    except gi.repository.GLib.Error:
        pass


def find_app(name, seconds):
    end = time.time() + seconds
    while time.time() < end:
        desktop = Atspi.get_desktop(0)
        for i in range(desktop.get_child_count()):
            app = desktop.get_child_at_index(i)
            if app is not None and app.get_name().lower() == name:
                return app
        time.sleep(0.2)
    return None


app = find_app(sys.argv[1] if len(sys.argv) > 1 else "brackwater", 20)
if app is None:
    sys.exit("no such application on the accessibility bus")
walk(app)
