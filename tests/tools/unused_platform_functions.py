#!/usr/bin/env python3
# Lists the free functions declared in the headers below platform/ that nothing in the
# application calls: no use of the name in platform/, support/, processing/,
# intake/, settings/ or shell/ outside its own declarations and definitions.
# Tests do not count as callers. Exits 1 when there is one, or when an entry of
# the allow-list is no longer needed, so a function whose last caller goes away
# is deleted (with its tests) rather than kept.
#
# A plain lexical scan that relies on clang-format's layout: comments, literals
# and preprocessor lines are blanked; a line at column 0 that names a function
# before its first "(" (and before any "=") declares or defines it, and a
# definition's body runs to the next line at column 0. Any other mention of the
# name, outside its own body, counts as a use.
#
# Usage: unused_platform_functions.py [source root]
import pathlib
import re
import sys

APP_DIRS = ["platform", "support", "processing", "intake", "settings", "shell"]

# Functions kept although the application does not call them. Keep this list
# short: a function that is here only because its own test calls it goes.
ALLOWED = set(
    # Test seams: tests make the platform fail, count or look elsewhere.
    "setFaultHook SetMemoryFailureHook SetExitToShellHook SetMainBundleResourcesDirectory "
    "setUseOpenat2 SysBeepCount ResetSysBeepCount TECLiveConverterCount "
    # The memory benchmark reads the path nodes' size.
    "memoryUse "
    # What the tests of the upper layers look at to see what the application
    # did: a window's and a control's state, a menu command, a fork's position,
    # two references to the same object, the drag highlight, the icon
    # registered, a block's size.
    "IsWindowVisible IsControlEnabled IsControlVisible GetControlData GetControlMaximum "
    "GetControlMinimum IsMenuCommandEnabled FSGetForkPosition FSCompareFSRefs "
    "GetDragHiliteBounds FindRegisteredIcon IconRefSizeCount GetPtrSize "
    # The tests build events and undo their own registrations with these.
    "AEBuildDesc AERemoveEventHandler RemoveEventHandler RemoveReceiveHandler "
    "UnregisterIconRef".split())

NOISE = re.compile(r'//[^\n]*|/\*.*?\*/|R"(\w*)\(.*?\)\1"|"(?:\\.|[^"\\\n])*"|'
                   r"'(?:\\.|[^'\\\n])*'|^[ \t]*#(?:\\\n|[^\n])*", re.S | re.M)
DECLARES = re.compile(r"(?!(?:return|typedef|using|class|struct|union|enum|static_assert|"
                      r"Q_\w+)\b)(?:[^\s=;(][^=;(]*?\W)?([A-Za-z_]\w*)\s*\(")
declared, used = {}, set()
root = pathlib.Path(sys.argv[1] if len(sys.argv) > 1 else pathlib.Path(__file__).parents[2])
for folder in APP_DIRS:
    for path in sorted(p for p in (root / folder).rglob("*") if p.suffix in (".cpp", ".h")):
        body = None  # the function whose definition the lines belong to
        text = NOISE.sub(lambda m: "\n" * m.group(0).count("\n"), path.read_text(errors="replace"))
        for line in text.splitlines():
            m = None
            if line[:1].strip():
                m = DECLARES.match(line)
                body = m and m.group(1)
                if m and folder == "platform" and path.suffix == ".h":
                    declared.setdefault(body, path.relative_to(root))
                if line.rstrip().endswith(";"):
                    body = None
            used.update(set(re.findall(r"[A-Za-z_]\w*", line)) - {body, m and m.group(1)})
unused = sorted(f for f in declared if f not in used and f not in ALLOWED)
for f in unused:
    print(f"{declared[f]}: {f} has no caller outside tests")
stale = sorted(f for f in ALLOWED if f not in declared or f in used)
for f in stale:
    print(f"allow-list: {f} is no longer declared, or is now called; take it off")
sys.exit(1 if unused or stale else 0)
