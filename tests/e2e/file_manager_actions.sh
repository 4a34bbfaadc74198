#!/usr/bin/env bash
# The installed file-manager action, as the Dolphin service menu and the
# Nautilus scripts run it, with stand-ins for zenity, kdialog, qdbus,
# notify-send and x-terminal-emulator first on PATH that record what they are
# asked and answer as told. Checked: the question names the number of selected
# items; the files really change; the progress is fed while the run goes on,
# and Cancel stops the run after the file in hand with every file whole and the
# count told; without a dialog program a terminal asks instead, then
# notify-send tells that nothing was changed, and with nothing at all stderr
# and a log file do; the exit status is non-zero only when something failed or
# nothing was done.
#
# The runs that are cancelled flip a few thousand files, several seconds of
# work, and Cancel comes as soon as the progress counts the first changed file.
set -uo pipefail
build=$2
source "$(dirname "$0")/lib.bash"
e2e_setup
prefix="$E2E_DIR/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null || fail "install failed"
action="$prefix/libexec/brackwater/brackwater-action"
[ -x "$action" ] || fail "no action installed"
logs="$E2E_DIR/logs"
mkdir -p "$logs"

# The system's programs without the dialog programs, for the PATH.
sys="$E2E_DIR/sys"
e2e_programs_without_dialogs "$sys"

# The stand-ins, each in a folder of its own so that a case puts on PATH just
# the ones it wants. Each records its arguments, one a line, then "----".
stub() {
    mkdir -p "$E2E_DIR/stubs/$1"
    {
        printf '#!/usr/bin/env bash\nlog="%s/%s.log"\n' "$logs" "$1"
        cat <<'HEAD'
printf '%s\n' "$@" >>"$log"
echo ---- >>"$log"
HEAD
        cat
    } >"$E2E_DIR/stubs/$1/$1"
    chmod +x "$E2E_DIR/stubs/$1/$1"
}
# zenity: the question answers ZENITY_ANSWER; a progress dialog records what it
# is fed, and with ZENITY_CANCEL=1 (and a Cancel button) it is cancelled as
# soon as it is told of a changed file.
stub zenity <<'EOF'
case " $* " in
    *" --question "*) exit "${ZENITY_ANSWER:-0}" ;;
    *" --progress "*)
        while IFS= read -r line; do
            echo "$line" >>"${log%.log}.fed"
            if [ "${ZENITY_CANCEL:-0}" = 1 ] && [[ " $* " != *" --no-cancel "* ]] &&
                [[ "$line" =~ ^#\ ([0-9]+)\ files?\ changed ]] && [ "${BASH_REMATCH[1]}" -ge 1 ]; then
                exit 1
            fi
        done
        exit 0 ;;
esac
exit 0
EOF
# kdialog: the question answers KDIALOG_ANSWER; a progress bar is a D-Bus object.
stub kdialog <<'EOF'
case " $* " in
    *" --warningcontinuecancel "*) exit "${KDIALOG_ANSWER:-0}" ;;
    *" --progressbar "*) echo "org.kde.kdialog-4242 /ProgressDialog" ;;
esac
exit 0
EOF
# qdbus: with QDBUS_CANCEL=1 the bar is cancelled once its label counts a
# changed file.
stub qdbus <<'EOF'
case "$3" in
    setLabelText) echo "$4" >"${log%.log}.label" ;;
    wasCancelled)
        if [ "${QDBUS_CANCEL:-0}" = 1 ] &&
            [[ "$(cat "${log%.log}.label" 2>/dev/null)" =~ ^([0-9]+)\ files?\ changed ]] &&
            [ "${BASH_REMATCH[1]}" -ge 1 ]; then
            echo true
        else
            echo false
        fi ;;
esac
exit 0
EOF
stub notify-send <<'EOF'
exit 0
EOF
# x-terminal-emulator: runs what follows -e on a terminal of its own (script),
# typing TERMINAL_INPUT, and keeps what the terminal showed.
stub x-terminal-emulator <<'EOF'
while [ $# -gt 0 ] && [ "$1" != -e ]; do shift; done
shift
printf '%s' "${TERMINAL_INPUT:-}" |
    SHELL=/bin/bash script -qefc "$(printf '%q ' "$@")" "${log%.log}.screen" >/dev/null
EOF

# Runs the installed action with the stand-ins named, no display unless
# DISPLAY is given, a private home and state folder. Status in $status.
act() {
    local tools=$1 path=$sys tool var vars
    shift
    for tool in $tools; do path="$E2E_DIR/stubs/$tool:$path"; done
    vars=(HOME="$E2E_DIR/home" XDG_STATE_HOME="$E2E_DIR/state" PATH="$path"
          XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR")
    [ -z "${DISPLAY_FOR_ACT:-}" ] || vars+=(DISPLAY="$DISPLAY_FOR_ACT")
    for var in ZENITY_ANSWER ZENITY_CANCEL KDIALOG_ANSWER QDBUS_CANCEL TERMINAL_INPUT; do
        [ -z "${!var:-}" ] || vars+=("$var=${!var}")
    done
    rm -f "$logs"/*
    env -i "${vars[@]}" "$action" "$@" >"$logs/stdout" 2>"$logs/stderr"
    status=$?
}
mkdir -p "$E2E_DIR/home"
logged() { grep -qF -- "$2" "$logs/$1" 2>/dev/null; }
show() { echo "--- $1:"; cat "$logs/$1" 2>/dev/null; }

tree="$E2E_DIR/tree"
# Two files and a folder of two more, each holding its own name.
make_small() {
    rm -rf "$tree" && mkdir -p "$tree/folder"
    for f in one two folder/three folder/four; do printf '%s' "$f" >"$tree/$f"; done
}
# A folder of many files for the runs that are cancelled.
many=3000
make_many() {
    rm -rf "$tree" && mkdir -p "$tree/many"
    local i
    for ((i = 0; i < many; i++)); do printf 'file %05d' "$i" >"$tree/many/f$i"; done
}
# After a stopped flip: each file whole in its data fork (untouched) or moved
# into its sidecar's resource fork; prints how many were flipped.
count_flipped() {
    local i flipped=0 f expected content
    for ((i = 0; i < many; i++)); do
        f="$tree/many/f$i"
        printf -v expected 'file %05d' "$i"
        if [ -s "$f" ]; then
            content=
            IFS= read -r content <"$f"
            [ "$content" = "$expected" ] || fail "f$i changed without a flip"
            [ ! -e "$tree/many/._f$i" ] || fail "f$i kept its data fork but got a sidecar"
        else
            grep -qF "$expected" "$tree/many/._f$i" 2>/dev/null ||
                fail "f$i lost its data fork without a resource fork holding it"
            flipped=$((flipped + 1))
        fi
    done
    echo "$flipped"
}

# zenity, answered OK: the question counts the items, the progress is fed
# counts and closed with 100, every file changes, the summary is told.
make_small
act "zenity notify-send" delete-data "$tree/one" "$tree/two" "$tree/folder"
[ "$status" -eq 0 ] || { show stderr; fail "OK run ended with $status"; }
logged zenity.log '3 selected items, including 1 folder with everything in it.' ||
    { show zenity.log; fail "the question does not count the items"; }
logged zenity.log 'You are about to delete the data forks of the selected files.' ||
    fail "the question lost the alert's text"
logged zenity.log 'This operation can not be undone by this program and may render the files unusable.' ||
    fail "the question lost the alert's warning"
{ logged zenity.log '--progress' && logged zenity.log '--pulsate' && logged zenity.log '--auto-close'; } ||
    { show zenity.log; fail "no progress dialog"; }
[ "$(tail -n 1 "$logs/zenity.fed")" = 100 ] || { show zenity.fed; fail "the progress was not closed"; }
grep -qE '^# [0-9]+ files? changed so far$' "$logs/zenity.fed" || fail "the progress was fed no count"
for f in one two folder/three folder/four; do
    { [ -e "$tree/$f" ] && [ ! -s "$tree/$f" ]; } || fail "$f was not changed"
done
logged notify-send.log '4 changed, 0 failed, 0 skipped' || { show notify-send.log; fail "no summary"; }

# The count in other selections; declined, nothing changes and the status says so.
make_small
ZENITY_ANSWER=1 act zenity flip "$tree/folder"
[ "$status" -eq 1 ] || fail "a declined question ended with $status"
logged zenity.log '1 selected folder, with everything in it.' || { show zenity.log; fail "one folder"; }
[ "$(cat "$tree/folder/three")" = folder/three ] || fail "a declined question changed a file"
ZENITY_ANSWER=1 act zenity flip "$tree/one"
logged zenity.log '1 selected item.' || { show zenity.log; fail "one file"; }
ZENITY_ANSWER=1 act zenity flip "$tree/one" "$tree/two"
logged zenity.log '2 selected items.' || { show zenity.log; fail "two files"; }
[ ! -e "$logs/notify-send.log" ] || fail "a declined question was notified"

# A failure is shown with its details in zenity's warning; the other file changes.
make_small
mkfifo "$tree/pipe"
act zenity flip "$tree/pipe" "$tree/one"
[ "$status" -eq 1 ] || { show stderr; fail "a run with a failure under zenity ended with $status"; }
{ logged zenity.log '--warning' && logged zenity.log 'notAFileErr (-1302)'; } ||
    { show zenity.log; fail "zenity did not show the failure with its details"; }
[ ! -s "$tree/one" ] || fail "one was not flipped beside the failure"

# A flip of many files cancelled by $1 (the variable that makes the stand-in
# cancel) with the stand-ins $2: it stops after the file in hand, every file is
# whole in one fork or the other, and the outcome tells how many were left.
cancelled_flip() {
    make_many
    local "$1=1"
    act "$2 notify-send" flip "$tree/many"
    [ "$status" -eq 130 ] || { show stderr; show zenity.fed; fail "a run cancelled by $1 ended with $status"; }
    flipped=$(count_flipped) || exit 1
    { [ "$flipped" -ge 1 ] && [ "$flipped" -lt "$many" ]; } || fail "$1 left $flipped of $many flipped"
    echo "$1 stopped the run after $flipped of $many files"
    logged notify-send.log "Stopped after the file in hand: $flipped changed, 0 failed, 0 skipped; $((many - flipped)) files were not handled." ||
        { show notify-send.log; fail "the stop by $1 was not told with the count on disk"; }
}
cancelled_flip ZENITY_CANCEL zenity

# kdialog with qdbus: the progress bar has a Cancel button and counts; a
# failure is shown with its details.
make_small
mkfifo "$tree/pipe"
act "kdialog qdbus" delete-resource "$tree/one" "$tree/pipe" "$tree/folder"
[ "$status" -eq 1 ] || { show stderr; fail "a run with a failure ended with $status"; }
logged kdialog.log '3 selected items, including 1 folder with everything in it.' ||
    { show kdialog.log; fail "kdialog's question does not count the items"; }
logged qdbus.log showCancelButton || { show qdbus.log; fail "no Cancel button on the bar"; }
logged qdbus.log close || fail "the progress bar was not closed"
{ logged kdialog.log '--detailedsorry' && logged kdialog.log 'notAFileErr (-1302)'; } ||
    { show kdialog.log; fail "the failure was not shown with its details"; }

# kdialog, cancelled through the bar.
cancelled_flip QDBUS_CANCEL "kdialog qdbus"

# kdialog without qdbus: a passive popup instead of the bar; the work is done.
make_small
act "kdialog" flip "$tree/one"
[ "$status" -eq 0 ] || fail "kdialog without qdbus ended with $status"
logged kdialog.log '--passivepopup' || { show kdialog.log; fail "no popup without qdbus"; }
{ [ ! -s "$tree/one" ] && [ -e "$tree/._one" ]; } || fail "kdialog without qdbus did not flip"

# No dialog program, but a display and a terminal: the batch mode asks there.
make_small
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'y\n' act "x-terminal-emulator notify-send" delete-data "$tree/one" "$tree/folder"
[ "$status" -eq 0 ] || { show x-terminal-emulator.screen; fail "the terminal's run ended with $status"; }
{ logged x-terminal-emulator.screen '2 selected items, including 1 folder with everything in it.' &&
    logged x-terminal-emulator.screen 'You are about to delete the data forks of the selected files.' &&
    logged x-terminal-emulator.screen '3 changed, 0 failed, 0 skipped'; } ||
    { show x-terminal-emulator.screen; fail "the terminal did not ask and tell"; }
{ [ ! -s "$tree/one" ] && [ ! -s "$tree/folder/three" ]; } || fail "the terminal's run changed nothing"
[ ! -e "$logs/notify-send.log" ] || fail "notified although the terminal was there"
# Answered no there: nothing changes, and that is a failure to do the work.
make_small
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'n\n' act "x-terminal-emulator" delete-data "$tree/one"
[ "$status" -eq 1 ] || fail "declined in the terminal, the action ended with $status"
[ "$(cat "$tree/one")" = one ] || fail "declined in the terminal, a file changed"
# A failure in the terminal's run is passed on.
mkfifo "$tree/pipe"
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'y\n' act "x-terminal-emulator" delete-data "$tree/pipe" "$tree/two"
[ "$status" -eq 1 ] || fail "a failure in the terminal's run ended with $status"
[ ! -s "$tree/two" ] || fail "the terminal's run skipped two"

# No dialog program and no display: notify-send says nothing was changed.
make_small
act "x-terminal-emulator notify-send" delete-data "$tree/one"
[ "$status" -eq 1 ] || fail "without a way to ask, the action ended with $status"
logged notify-send.log 'nothing was changed' || { show notify-send.log; fail "no notice"; }
[ ! -e "$logs/x-terminal-emulator.log" ] || fail "a terminal was opened without a display"
[ "$(cat "$tree/one")" = one ] || fail "a file changed without a question"

# Nothing at all: stderr and the log in XDG_STATE_HOME.
rm -rf "$E2E_DIR/state"
act "" delete-data "$tree/one"
[ "$status" -eq 1 ] || fail "with no way to tell, the action ended with $status"
logged stderr 'nothing was changed' || { show stderr; fail "nothing on stderr"; }
grep -q 'delete-data (1 selected item.): Install zenity or kdialog' \
    "$E2E_DIR/state/brackwater/actions.log" || fail "nothing in the log"
[ "$(cat "$tree/one")" = one ] || fail "a file changed without a question"

# The service menu and each Nautilus script run the installed action with
# their own operation.
for op in flip delete-data delete-resource; do
    grep -q "^Exec=$prefix/libexec/brackwater/brackwater-action $op %F$" \
        "$prefix/share/kio/servicemenus/brackwater-forks.desktop" || fail "the service menu lacks $op"
done
for s in "Flip-delete data forks:flip" "Delete data forks:delete-data" \
    "Delete resource forks:delete-resource"; do
    grep -q "^exec \"\$action\" ${s#*:} \"\$@\"$" "$prefix/share/brackwater/nautilus-scripts/Brackwater/${s%:*}" ||
        fail "the Nautilus script ${s%:*} does not run ${s#*:}"
done
# The Nautilus scripts, linked into the user's scripts folder as the manual
# says, run the installed action.
make_small
mkdir -p "$E2E_DIR/home/.local/share/nautilus/scripts"
ln -s "$prefix/share/brackwater/nautilus-scripts/Brackwater" "$E2E_DIR/home/.local/share/nautilus/scripts/"
action="$E2E_DIR/home/.local/share/nautilus/scripts/Brackwater/Delete resource forks"
setfattr -n user.com.apple.ResourceFork -v fork "$tree/two" 2>/dev/null ||
    fail "no extended attributes here"
act "zenity notify-send" "$tree/two"
[ "$status" -eq 0 ] || { show stderr; fail "the Nautilus script ended with $status"; }
logged zenity.log 'You are about to delete the resource forks of the selected files.' ||
    fail "the Nautilus script asked something else"
[ -z "$(getfattr --only-values -n user.com.apple.ResourceFork "$tree/two" 2>/dev/null)" ] ||
    fail "the Nautilus script did not delete the resource fork"
[ "$(cat "$tree/two")" = two ] || fail "the Nautilus script changed the data fork"

echo "file-manager actions: all checks passed"
