#!/usr/bin/env bash
# The main window read through AT-SPI, as a screen reader reads it: the status
# line is a static text whose name is the message shown, and the busy
# indicator and progress bar have names. Runs on a private session bus with
# its own accessibility bus.
HERE=$(cd "$(dirname "$0")" && pwd)
source "$HERE/lib.bash"
[ -n "${E2E_SESSION_BUS:-}" ] || E2E_SESSION_BUS=1 exec dbus-run-session -- bash "$0" "$@"
e2e_window_setup "$@"
for tool in /usr/libexec/at-spi-bus-launcher /usr/bin/python3; do
    [ -x "$tool" ] || fail "$tool is missing (at-spi2-core, python3-gi, gir1.2-atspi-2.0)"
done
/usr/libexec/at-spi-bus-launcher --launch-immediately >/dev/null 2>&1 &
E2E_PIDS=$!
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1 QT_ACCESSIBILITY=1

e2e_start 1
/usr/bin/python3 "$HERE/tools/atspi_read.py" brackwater >"$E2E_DIR/tree" || fail "AT-SPI: $(cat "$E2E_DIR/tree")"
for line in $'label\tDrop one or more files, folders or volumes on the application or this window to change the extension.' \
    $'progress bar\tBusy' $'progress bar\tProgress through the folder' $'push button\tPreferences…'; do
    grep -qxF "$line" "$E2E_DIR/tree" || fail "not read through AT-SPI: '$line' in $(cat "$E2E_DIR/tree")"
done
echo "ok: the status line, the busy indicator and the progress bar are read through AT-SPI"
