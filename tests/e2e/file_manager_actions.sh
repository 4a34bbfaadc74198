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
    { printf '#!/usr/bin/env bash\nlog="%s/%s.log"\nprintf "%%s\\n" "$@" ---- >>"$log"\n' "$logs" "$1" && cat; } \
        >"$E2E_DIR/stubs/$1/$1"
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
            [ "${ZENITY_CANCEL:-0}" = 1 ] && [[ " $* " != *" --no-cancel "* ]] &&
                [[ "$line" =~ ^#\ [1-9][0-9]*\ files?\ changed ]] && exit 1
        done ;;
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
        [ "${QDBUS_CANCEL:-0}" = 1 ] && grep -qE '^[1-9][0-9]* files? changed' "${log%.log}.label" 2>/dev/null &&
            echo true || echo false ;;
esac
exit 0
EOF
stub notify-send </dev/null
# x-terminal-emulator: runs what follows -e on a terminal of its own (script),
# typing TERMINAL_INPUT, and keeps what the terminal showed.
stub x-terminal-emulator <<'EOF'
while [ $# -gt 0 ] && [ "$1" != -e ]; do shift; done
shift
printf '%s' "${TERMINAL_INPUT:-}" |
    SHELL=/bin/bash script -qefc "$(printf '%q ' "$@")" "${log%.log}.screen" >/dev/null
EOF

# Runs the installed action with the stand-ins named, no display unless
# DISPLAY is given, a private home and state folder; its status must be $1.
act() {
    local want=$1 tools=$2 path=$sys tool var vars
    shift 2
    for tool in $tools; do path="$E2E_DIR/stubs/$tool:$path"; done
    vars=(HOME="$E2E_DIR/home" XDG_STATE_HOME="$E2E_DIR/state" PATH="$path"
          XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR")
    for var in DISPLAY_FOR_ACT ZENITY_ANSWER ZENITY_CANCEL KDIALOG_ANSWER QDBUS_CANCEL TERMINAL_INPUT; do
        [ -z "${!var:-}" ] || vars+=("${var%_FOR_ACT}=${!var}")
    done
    rm -f "$logs"/*
    env -i "${vars[@]}" "$action" "$@" >"$logs/stdout" 2>"$logs/stderr"
    status=$?
    [ "$status" -eq "$want" ] || { show stderr; fail "$tools $*: exit status $status, expected $want"; }
}
mkdir -p "$E2E_DIR/home"
show() { echo "--- $1:"; cat "$logs/$1" 2>/dev/null; }
# logged FILE TEXT...: the stand-in's record FILE holds each text.
logged() {
    local file=$1 text
    shift
    for text; do grep -qF -- "$text" "$logs/$file" 2>/dev/null || { show "$file"; fail "no '$text' in $file"; }; done
}
unchanged() { for f; do [ "$(cat "$tree/$f")" = "$f" ] || fail "$f changed"; done; }
changed() { for f; do [ -e "$tree/$f" ] && [ ! -s "$tree/$f" ] || fail "$f was not changed"; done; }

tree="$E2E_DIR/tree"
# Two files and a folder of two more, each holding its own name.
make_small() {
    rm -rf "$tree" && mkdir -p "$tree/folder"
    for f in one two folder/three folder/four; do printf '%s' "$f" >"$tree/$f"; done
}
ASK='You are about to delete the data forks of the selected files.'
WARN='This operation can not be undone by this program and may render the files unusable.'

# zenity, answered OK: the question counts the items, the progress is fed
# counts and closed with 100, every file changes, the summary is told.
make_small
act 0 "zenity notify-send" delete-data "$tree/one" "$tree/two" "$tree/folder"
logged zenity.log '3 selected items, including 1 folder with everything in it.' "$ASK" "$WARN" \
    --progress --pulsate --auto-close
[ "$(tail -n 1 "$logs/zenity.fed")" = 100 ] || { show zenity.fed; fail "the progress was not closed"; }
grep -qE '^# [0-9]+ files? changed so far$' "$logs/zenity.fed" || fail "the progress was fed no count"
changed one two folder/three folder/four
logged notify-send.log '4 changed, 0 failed, 0 skipped'

# The count in other selections; declined, nothing changes and the status says so.
make_small
ZENITY_ANSWER=1 act 1 zenity flip "$tree/folder"
logged zenity.log '1 selected folder, with everything in it.'
ZENITY_ANSWER=1 act 1 zenity flip "$tree/one"
logged zenity.log '1 selected item.'
ZENITY_ANSWER=1 act 1 "zenity notify-send" flip "$tree/one" "$tree/two"
logged zenity.log '2 selected items.'
[ ! -e "$logs/notify-send.log" ] || fail "a declined question was notified"
unchanged one two folder/three

# A failure is shown with its details in zenity's warning; the other file changes.
mkfifo "$tree/pipe"
act 1 zenity flip "$tree/pipe" "$tree/one"
logged zenity.log --warning 'notAFileErr (-1302)'
changed one

# A flip of a folder of many files cancelled by $1 (the variable that makes the
# stand-in cancel) with the stand-ins $2: it stops after the file in hand, each
# file is whole in its data fork or moved into its sidecar's resource fork, and
# the outcome tells how many were left.
cancelled_flip() {
    local many=3000 i flipped=0 expected
    rm -rf "$tree" && mkdir -p "$tree/many"
    for ((i = 0; i < many; i++)); do printf 'file %05d' "$i" >"$tree/many/f$i"; done
    local "$1=1"
    act 130 "$2 notify-send" flip "$tree/many"
    for ((i = 0; i < many; i++)); do
        printf -v expected 'file %05d' "$i"
        if [ -s "$tree/many/f$i" ]; then
            [ "$(cat "$tree/many/f$i")" = "$expected" ] && [ ! -e "$tree/many/._f$i" ] ||
                fail "f$i kept its data fork, but changed or got a sidecar"
        else
            grep -qF "$expected" "$tree/many/._f$i" 2>/dev/null ||
                fail "f$i lost its data fork without a resource fork holding it"
            flipped=$((flipped + 1))
        fi
    done
    [ "$flipped" -ge 1 ] && [ "$flipped" -lt "$many" ] || fail "$1 left $flipped of $many flipped"
    echo "$1 stopped the run after $flipped of $many files"
    logged notify-send.log "Stopped after the file in hand: $flipped changed, 0 failed, 0 skipped; $((many - flipped)) files were not handled."
}
cancelled_flip ZENITY_CANCEL zenity

# kdialog with qdbus: the progress bar has a Cancel button and counts; a
# failure is shown with its details.
make_small
mkfifo "$tree/pipe"
act 1 "kdialog qdbus" delete-resource "$tree/one" "$tree/pipe" "$tree/folder"
logged kdialog.log '3 selected items, including 1 folder with everything in it.' \
    --detailedsorry 'notAFileErr (-1302)'
logged qdbus.log showCancelButton close

# kdialog, cancelled through the bar.
cancelled_flip QDBUS_CANCEL "kdialog qdbus"

# kdialog without qdbus: a passive popup instead of the bar; the work is done.
make_small
act 0 "kdialog" flip "$tree/one"
logged kdialog.log --passivepopup
changed one
[ -e "$tree/._one" ] || fail "kdialog without qdbus did not flip"

# No dialog program, but a display and a terminal: the batch mode asks there.
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'y\n' act 0 "x-terminal-emulator notify-send" delete-data "$tree/two" "$tree/folder"
logged x-terminal-emulator.screen '2 selected items, including 1 folder with everything in it.' \
    "$ASK" '3 changed, 0 failed, 0 skipped'
changed two folder/three
[ ! -e "$logs/notify-send.log" ] || fail "notified although the terminal was there"
# Answered no there: nothing changes, and that is a failure to do the work.
make_small
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'n\n' act 1 "x-terminal-emulator" delete-data "$tree/one"
unchanged one
# A failure in the terminal's run is passed on.
mkfifo "$tree/pipe"
DISPLAY_FOR_ACT=:99 TERMINAL_INPUT=$'y\n' act 1 "x-terminal-emulator" delete-data "$tree/pipe" "$tree/two"
changed two

# No dialog program and no display: notify-send says nothing was changed.
act 1 "x-terminal-emulator notify-send" delete-data "$tree/one"
logged notify-send.log 'nothing was changed'
[ ! -e "$logs/x-terminal-emulator.log" ] || fail "a terminal was opened without a display"
# Nothing at all: stderr and the log in XDG_STATE_HOME.
act 1 "" delete-data "$tree/one"
logged stderr 'nothing was changed'
grep -q 'delete-data (1 selected item.): Install zenity or kdialog' \
    "$E2E_DIR/state/brackwater/actions.log" || fail "nothing in the log"
unchanged one

# The service menu and each Nautilus script run the installed action with
# their own operation.
for s in "Flip-delete data forks:flip" "Delete data forks:delete-data" \
    "Delete resource forks:delete-resource"; do
    grep -q "^Exec=$prefix/libexec/brackwater/brackwater-action ${s#*:} %F$" \
        "$prefix/share/kio/servicemenus/brackwater-forks.desktop" || fail "the service menu lacks ${s#*:}"
    grep -q "^exec \"\$action\" ${s#*:} \"\$@\"$" "$prefix/share/brackwater/nautilus-scripts/Brackwater/${s%:*}" ||
        fail "the Nautilus script ${s%:*} does not run ${s#*:}"
done
# The Nautilus scripts, linked into the user's scripts folder as the manual
# says, run the installed action.
mkdir -p "$E2E_DIR/home/.local/share/nautilus/scripts"
ln -s "$prefix/share/brackwater/nautilus-scripts/Brackwater" "$E2E_DIR/home/.local/share/nautilus/scripts/"
action="$E2E_DIR/home/.local/share/nautilus/scripts/Brackwater/Delete resource forks"
setfattr -n user.com.apple.ResourceFork -v fork "$tree/folder/three" 2>/dev/null ||
    fail "no extended attributes here"
act 0 "zenity notify-send" "$tree/folder/three"
logged zenity.log 'You are about to delete the resource forks of the selected files.'
[ -z "$(getfattr --only-values -n user.com.apple.ResourceFork "$tree/folder/three" 2>/dev/null)" ] ||
    fail "the Nautilus script did not delete the resource fork"
unchanged folder/three

echo "file-manager actions: all checks passed"
