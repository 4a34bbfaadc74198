#!/usr/bin/env python3
# Lists the free functions declared in the headers below platform/ that nothing in the
# application calls: no use of the name in platform/, support/, processing/,
# intake/, settings/ or shell/ outside its own declarations and definitions.
# Tests do not count as callers. Exits 1 when there is one, so a function
# whose last caller goes away is deleted (with its tests) rather than kept.
#
# A plain lexical scan, no compiler: comments and literals are removed, brace
# nesting says whether a statement is at namespace level, and a statement
# there that holds "name(" declares or defines name. Any other mention of the
# name (a call, taking its address, a table entry) counts as a use.
#
# Usage: unused_platform_functions.py [source root]
import os
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
    "nodeCount memoryUse "
    # What the tests of the upper layers look at to see what the application
    # did: a window's and a control's state, a menu command, a fork's position,
    # two references to the same object, the drag highlight, the icon
    # registered, a block's size, an event's parameters.
    "IsWindowVisible IsControlEnabled IsControlVisible GetControlData GetControlMaximum "
    "GetControlMinimum IsMenuCommandEnabled FSGetForkPosition FSCompareFSRefs "
    "GetDragHiliteBounds FindRegisteredIcon IconRefSizeCount GetPtrSize AEGetNthDesc "
    # The tests build events and undo their own registrations with these.
    "AEBuildDesc AERemoveEventHandler RemoveEventHandler RemoveReceiveHandler "
    "UnregisterIconRef".split())

IDENT = re.compile(r"[A-Za-z_]\w*")
DECLARED = re.compile(r"(?:\boperator\s*\S+|\b([A-Za-z_]\w*))\s*\(")
SKIP_STATEMENT = re.compile(r"^\s*(typedef|using|template\s*<[^>]*>\s*(class|struct)|"
                            r"(class|struct|union|enum)\b|static_assert|return\b)")
NAMESPACE_OPEN = re.compile(r"(\bnamespace\b[\w:\s]*|\bextern\s*\"C\"\s*)$")


def strip(text):
    """Blanks comments, string and character literals and preprocessor lines,
    keeping line breaks so positions stay meaningful."""
    out = []
    i, n = 0, len(text)
    line_start = True
    while i < n:
        c = text[i]
        if line_start and c == "#":
            # A preprocessor line, with its continuations.
            while i < n and text[i] != "\n":
                if text[i] == "\\" and i + 1 < n and text[i + 1] == "\n":
                    out.append("\n")
                    i += 2
                    continue
                i += 1
            continue
        if c == "/" and text.startswith("//", i):
            while i < n and text[i] != "\n":
                i += 1
            continue
        if c == "/" and text.startswith("/*", i):
            end = text.find("*/", i + 2)
            end = n if end < 0 else end + 2
            out.append("\n" * text.count("\n", i, end))
            i = end
            continue
        if c == "R" and text.startswith('R"', i):
            m = re.match(r'R"([^(\s]*)\(', text[i:])
            if m:
                end = text.find(")" + m.group(1) + '"', i)
                end = n if end < 0 else end + len(m.group(1)) + 2
                out.append('""' + "\n" * text.count("\n", i, end))
                i = end
                continue
        if c in "\"'":
            j = i + 1
            while j < n and text[j] != c and text[j] != "\n":
                j += 2 if text[j] == "\\" else 1
            out.append(c + c)
            i = j + 1
            line_start = False
            continue
        out.append(c)
        if c == "\n":
            line_start = True
        elif not c.isspace():
            line_start = False
        i += 1
    return "".join(out)


def scan(text):
    """Yields (kind, name, enclosing) for a stripped source: kind "decl" for a
    function declared or defined at namespace level, "use" for any other
    mention of an identifier; enclosing is the function whose body holds a
    use (so a function calling itself is not its own caller)."""
    stack = []  # per open brace: "ns", or ("body", function name or None)
    statement = []
    i, n = 0, len(text)
    at_namespace_level = lambda: all(s == "ns" for s in stack)

    def current_function():
        for s in reversed(stack):
            if s != "ns" and s[1]:
                return s[1]
        return None

    def declared_name(chunk):
        if SKIP_STATEMENT.match(chunk):
            return None
        head = chunk.split("=", 1)[0] if "=" in chunk.split("(", 1)[0] else chunk
        m = DECLARED.search(head)
        if not m or not m.group(1):
            return None
        name = m.group(1)
        if name in ("if", "while", "for", "switch", "sizeof", "decltype", "alignas",
                    "Q_OBJECT", "Q_DECLARE_METATYPE", "noexcept"):
            return None
        return name

    last = 0
    while i < n:
        c = text[i]
        if c in "{;}":
            chunk = text[last:i]
            if at_namespace_level():
                name = declared_name(" ".join(statement) + chunk)
                for m in IDENT.finditer(chunk):
                    if m.group(0) != name:
                        yield ("use", m.group(0), None)
                if name:
                    yield ("decl", name, None)
                # Names in the parameter list of a declaration were counted
                # as uses above, which is harmless: parameters are not
                # platform function names.
            else:
                fn = current_function()
                for m in IDENT.finditer(chunk):
                    yield ("use", m.group(0), fn)
            if c == "{":
                whole = (" ".join(statement) + chunk).strip()
                if at_namespace_level() and (NAMESPACE_OPEN.search(whole) or whole == ""):
                    stack.append("ns" if whole else ("body", None))
                elif at_namespace_level():
                    name = declared_name(whole)
                    stack.append(("body", name))
                else:
                    stack.append(("body", None))
                statement = []
            elif c == "}":
                if stack:
                    stack.pop()
                statement = []
            else:
                statement = []
            last = i + 1
        i += 1


def main():
    root = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(__file__), "..", "..")
    declared = {}
    uses = {}
    for folder in APP_DIRS:
        files = []
        for here, _, names in os.walk(os.path.join(root, folder)):
            files += [os.path.join(here, n) for n in names if n.endswith((".cpp", ".h"))]
        for path in sorted(files):
            name = os.path.relpath(path, os.path.join(root, folder))
            with open(path, encoding="utf-8", errors="replace") as f:
                text = strip(f.read())
            for kind, ident, enclosing in scan(text):
                if kind == "decl":
                    if folder == "platform" and name.endswith(".h"):
                        declared.setdefault(ident, os.path.join(folder, name))
                elif ident != enclosing:
                    uses[ident] = uses.get(ident, 0) + 1
    unused = sorted(f for f in declared if f not in uses and f not in ALLOWED)
    for f in unused:
        print(f"{declared[f]}: {f} has no caller outside tests")
    stale = sorted(f for f in ALLOWED if f not in declared or f in uses)
    for f in stale:
        print(f"allow-list: {f} is no longer declared, or is now called; take it off")
    return 1 if unused or stale else 0


if __name__ == "__main__":
    sys.exit(main())
