#!/bin/bash
# The file-manager action behind the Dolphin service menu and the Nautilus
# scripts, with stand-ins for zenity and notify-send that record what they were
# asked and answer as told: nothing changes unless the question is answered
# OK, the question has the window's alert texts, the outcome is told. Dialog
# programs installed on the machine stay off the PATH.
set -uo pipefail
BIN="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
BUILD="$2"
ACTION="$BUILD/batch/brackwater-action"
WORK="$(mktemp -d)"
trap 'rm -rf "$WORK"' EXIT
source "$(dirname "$0")/lib.bash"
FAILS=0
fail() { echo "FAIL: $*" >&2; FAILS=$((FAILS + 1)); }
[ -x "$ACTION" ] || { echo "FAIL: $ACTION missing (configure the build)"; exit 1; }

mkdir -p "$WORK/stubs" "$WORK/none"
e2e_programs_without_dialogs "$WORK/sys"
for tool in zenity notify-send; do
    cat >"$WORK/stubs/$tool" <<STUB
#!/bin/sh
printf '%s\n' "\$@" >>"$WORK/$tool.log"
printf -- '----\n' >>"$WORK/$tool.log"
exit \${ANSWER:-0}
STUB
    chmod +x "$WORK/stubs/$tool"
done
act() { env -u DISPLAY -u WAYLAND_DISPLAY -u XDG_CURRENT_DESKTOP -u KDE_FULL_SESSION \
    BRACKWATER="$BIN" PATH="$STUBS:$WORK/sys" "$ACTION" "$@"; }

make_files() {
    rm -rf "$WORK/f" && mkdir -p "$WORK/f/dir"
    printf 'one' >"$WORK/f/one"
    printf 'two' >"$WORK/f/dir/two"
}

# Cancel: nothing runs, nothing changes.
make_files
STUBS="$WORK/stubs" ANSWER=1 act delete-data "$WORK/f/one" "$WORK/f/dir"
[ $? -ne 0 ] || fail "cancel answered with success"
[ "$(cat "$WORK/f/one")" = one ] || fail "cancel changed a file"
grep -q 'You are about to delete the data forks of the selected files.' "$WORK/zenity.log" ||
    fail "question text: $(cat "$WORK/zenity.log")"
grep -q 'This operation can not be undone by this program and may render the files unusable.' \
    "$WORK/zenity.log" || fail "warning text"
[ -e "$WORK/notify-send.log" ] && fail "cancel notified"

# OK: the files and the folder's files change, the summary is notified.
rm -f "$WORK"/*.log
STUBS="$WORK/stubs" ANSWER=0 act delete-data "$WORK/f/one" "$WORK/f/dir"
[ $? -eq 0 ] || fail "OK run failed"
[ -s "$WORK/f/one" ] && fail "one not changed"
[ -s "$WORK/f/dir/two" ] && fail "dir/two not changed"
grep -q '^2 changed, 0 failed, 0 skipped$' "$WORK/notify-send.log" ||
    fail "summary not notified: $(cat "$WORK/notify-send.log" 2>/dev/null)"

# Failures are shown with their details.
make_files
mkfifo "$WORK/f/pipe"
rm -f "$WORK"/*.log
STUBS="$WORK/stubs" ANSWER=0 act flip "$WORK/f/pipe" "$WORK/f/one"
[ $? -eq 1 ] || fail "failure not passed on"
grep -q '^--warning$' "$WORK/zenity.log" || fail "no warning dialog: $(cat "$WORK/zenity.log")"
grep -q "notAFileErr (-1302)" "$WORK/zenity.log" || fail "failure details missing"
[ -s "$WORK/f/one" ] && fail "one not flipped"

# No dialog program: nothing changes, the user is told why.
make_files
cp "$WORK/stubs/notify-send" "$WORK/none/"
rm -f "$WORK"/*.log
STUBS="$WORK/none" act delete-resource "$WORK/f/one"
[ $? -ne 0 ] || fail "ran without a question"
grep -q 'nothing was changed' "$WORK/notify-send.log" || fail "no notice without a dialog program"

# The service menu and the Nautilus scripts run this action.
grep -q "^Exec=.*brackwater-action delete-resource %F$" "$BUILD/batch/brackwater-forks.desktop" ||
    fail "service menu Exec line"
for s in "Flip-delete data forks:flip" "Delete data forks:delete-data" \
    "Delete resource forks:delete-resource"; do
    script="$BUILD/batch/nautilus/Brackwater/${s%:*}"
    if ! grep -q '/libexec/brackwater/brackwater-action"$' "$script" ||
        ! grep -q "^exec \"\$action\" ${s#*:} \"\$@\"$" "$script"; then
        fail "nautilus script ${s%:*}"
    fi
done

[ $FAILS -eq 0 ] && echo "file-manager action: all checks passed"
exit $((FAILS > 0))
