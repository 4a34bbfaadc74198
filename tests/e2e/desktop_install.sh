#!/usr/bin/env bash
# Installs Brackwater into a private prefix and checks what the desktop learns
# from it: the desktop entry is valid, and a tool that changes files in place
# names no type it would open (so never becomes the opener of ordinary files
# or folders); the icon is there in
# every size of the hicolor theme, each image really that size; the AppStream metainfo validates and names the
# installed version. (That an installed copy finds the theme's icon beside its
# data folder: BundleResources_test.)
#
# Then the installed file-manager action, as the Dolphin service menu and the
# Nautilus scripts run it, with stand-ins for zenity, kdialog, qdbus,
# notify-send and x-terminal-emulator first on PATH that record what they are
# asked and answer as told. One case for each promise of the action: the
# question names the number of selected items; the files really change; the
# progress is fed while the run goes on, and Cancel stops the run after the
# file in hand and the count is told; without a dialog program a terminal
# asks instead, then notify-send tells that nothing was changed, and with
# nothing at all stderr and a log file do; the exit status is non-zero only
# when something failed or nothing was done. The runs that are cancelled flip
# a few thousand files, several seconds of work, and Cancel comes as soon as
# the progress counts the first changed file.
source "$(dirname "$0")/lib.bash"
e2e_setup
prefix="$E2E_DIR/prefix"
cmake --install "$2" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/brackwater.desktop"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"

# Each PNG's signature and IHDR chunk: width and height, 4 bytes each.
for size in 16 22 24 32 48 64 128 256 512; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/brackwater.png"
    [ "$(od -An -tx1 -N24 "$icon" | tr -d ' \n')" = "89504e470d0a1a0a0000000d49484452$(printf '%08x%08x' $size $size)" ] ||
        fail "$icon is missing, not a PNG or not ${size}x${size}"
done
grep -q '<svg ' "$prefix/share/icons/hicolor/scalable/apps/brackwater.svg" ||
    fail "no scalable icon installed"
grep -q '^Icon=brackwater$' "$entry" || fail "the desktop entry names another icon"

metainfo="$prefix/share/metainfo/io.github.brackwater.Brackwater.metainfo.xml"
version=$("$prefix/bin/brackwater" --version)
grep -q "<release version=\"${version#brackwater }\"" "$metainfo" ||
    fail "the metainfo has no release for $version"
# The whole tree: the metainfo validates, and its launchable's desktop entry is
# found beside it.
appstreamcli validate-tree --no-net "$prefix" || fail "the installed tree does not validate"

# An application entry opens, or is offered in Open With for, exactly the types
# its MimeType names: none may.
! grep -H '^MimeType=' "$prefix"/share/applications/*.desktop || fail "Brackwater opens files"

# The file-manager action checks each status itself.
set +e
action="$prefix/libexec/brackwater/brackwater-action"
logs="$E2E_DIR/logs" sys="$E2E_DIR/sys"
mkdir -p "$logs" "$sys" "$E2E_DIR/home"

# Links to the system's programs, leaving out the dialog and notification
# programs the action looks for, so that a PATH of stand-ins and this folder
# finds only the stand-ins, whatever is installed on the machine.
for program in /usr/local/bin/* /usr/bin/* /bin/*; do ln -s "$program" "$sys/" 2>/dev/null; done
rm -f "$sys"/{zenity,kdialog,qdbus*,notify-send,x-terminal-emulator}

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
# kdialog: the question is answered OK; a progress bar is a D-Bus object.
stub kdialog <<'EOF'
case " $* " in
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
# typing the line TERMINAL_INPUT, and keeps what the terminal showed.
stub x-terminal-emulator <<'EOF'
while [ $# -gt 0 ] && [ "$1" != -e ]; do shift; done
shift
printf '%s\n' "${TERMINAL_INPUT:-}" |
    SHELL=/bin/bash script -qefc "$(printf '%q ' "$@")" "${log%.log}.screen" >/dev/null
EOF

# Runs the installed action with the stand-ins $2 and the variables $3 (no
# display unless DISPLAY is among them), a private home, and its state folder
# among the records; its status must be $1.
act() {
    local want=$1 tools=$2 path=$sys tool vars
    read -ra vars <<<"$3"
    shift 3
    for tool in $tools; do path="$E2E_DIR/stubs/$tool:$path"; done
    rm -rf "${logs:?}"/*
    env -i HOME="$E2E_DIR/home" XDG_STATE_HOME="$logs" PATH="$path" XDG_RUNTIME_DIR="$XDG_RUNTIME_DIR" \
        "${vars[@]}" "$action" "$@" >"$logs/stdout" 2>"$logs/stderr"
    status=$?
    [ "$status" -eq "$want" ] || { cat "$logs/stderr"; fail "$tools $*: exit status $status, expected $want"; }
}
# logged FILE:TEXT...: the record FILE holds the text; !FILE: there is no FILE.
logged() {
    local r
    for r; do
        case "$r" in
            !*) [ ! -e "$logs/${r#!}" ] || fail "there is a ${r#!}" ;;
            *) grep -qF -- "${r#*:}" "$logs/${r%%:*}" 2>/dev/null ||
                { cat "$logs/${r%%:*}"; fail "no '${r#*:}' in ${r%%:*}"; } ;;
        esac
    done
}
tree="$E2E_DIR/tree"
unchanged() { for f; do [ "$(cat "$tree/$f")" = "$f" ] || fail "$f changed"; done; }
changed() { for f; do [ -e "$tree/$f" ] && [ ! -s "$tree/$f" ] || fail "$f was not changed"; done; }
ASK='You are about to delete the data forks of the selected files.'
SEL='selected items, including 1 folder with everything in it.'
WARN='This operation can not be undone by this program and may render the files unusable.'

# One case a line, each on a fresh tree of two files and a folder of two more,
# each holding its own name, and a FIFO: status | stand-ins | variables |
# operation and items | records that must hold a text (";" between them) |
# files that must change | files that must not. In order: zenity answered OK
# (the question counts the items, the progress is fed counts and closed with
# 100, the summary is told); the count of a folder alone, declined; the count
# of files alone, and a failure in zenity's warning; kdialog with qdbus's bar, and a failure; kdialog without
# qdbus; no dialog program but a display and a terminal, answered yes, and
# with a failure (declining on the terminal: BatchMode_test); no display:
# notify-send; nothing at all: stderr and the log.
# shellcheck disable=SC2086  # items, plus and minus are lists of words
while IFS='|' read -r want tools vars items records plus minus; do
    rm -rf "$tree" && mkdir -p "$tree/folder" && mkfifo "$tree/pipe"
    for f in one two folder/three folder/four; do printf '%s' "$f" >"$tree/$f"; done
    act "$want" "$tools" "$vars" $items
    IFS=';' read -ra records <<<"$records"
    logged "${records[@]}"
    changed $plus
    unchanged $minus
done <<EOF
0|zenity notify-send||delete-data $tree/one $tree/two $tree/folder|zenity.log:3 $SEL;zenity.log:$ASK;zenity.log:$WARN;zenity.log:--auto-close;zenity.fed:# 4 files changed so far;zenity.fed:100;notify-send.log:4 changed, 0 failed, 0 skipped|one two folder/three folder/four|
1|zenity notify-send|ZENITY_ANSWER=1|flip $tree/folder|zenity.log:1 selected folder, with everything in it.;!notify-send.log||folder/three
1|zenity||flip $tree/pipe $tree/one|zenity.log:2 selected items.;zenity.log:--warning;zenity.log:notAFileErr (-1302)|one|
1|kdialog qdbus||delete-resource $tree/one $tree/pipe $tree/folder|kdialog.log:3 $SEL;kdialog.log:--detailedsorry;kdialog.log:notAFileErr (-1302);qdbus.log:showCancelButton;qdbus.log:close||
0|kdialog||flip $tree/one|kdialog.log:--passivepopup|one|
0|x-terminal-emulator notify-send|DISPLAY=:99 TERMINAL_INPUT=y|delete-data $tree/two $tree/folder|x-terminal-emulator.screen:2 $SEL;x-terminal-emulator.screen:$ASK;x-terminal-emulator.screen:3 changed, 0 failed, 0 skipped;!notify-send.log|two folder/three|one
1|x-terminal-emulator|DISPLAY=:99 TERMINAL_INPUT=y|delete-data $tree/pipe $tree/two||two|
1|x-terminal-emulator notify-send||delete-data $tree/one|notify-send.log:nothing was changed;!x-terminal-emulator.log||one
1|||delete-data $tree/one|stderr:nothing was changed;brackwater/actions.log:delete-data (1 selected item.): Install zenity or kdialog||one
EOF

# A flip of a folder of many files cancelled by the stand-ins $2 with the
# variable $1: status 130, some files but not all flipped, each into its
# sidecar, and the outcome tells how many were changed and how many were left.
# (That every file is whole in one fork or the other however a run ends:
# crash_kill.sh.)
cancelled_flip() {
    local many=3000 i flipped
    rm -rf "$tree" && mkdir -p "$tree/many"
    for ((i = 0; i < many; i++)); do printf 'file %05d' "$i" >"$tree/many/f$i"; done
    act 130 "$2 notify-send" "$1=1" flip "$tree/many"
    flipped=$(find "$tree/many" -name 'f*' -empty | wc -l)
    [ "$(find "$tree/many" -name '._f*' -size +82c | wc -l)" -eq "$flipped" ] ||
        fail "$1: a flipped file has no sidecar"
    [ "$flipped" -ge 1 ] && [ "$flipped" -lt "$many" ] || fail "$1 left $flipped of $many flipped"
    logged "notify-send.log:Stopped after the file in hand: $flipped changed, 0 failed, 0 skipped; $((many - flipped)) files were not handled."
}
cancelled_flip ZENITY_CANCEL zenity
cancelled_flip QDBUS_CANCEL "kdialog qdbus"

# The service menu and each Nautilus script run the installed action with
# their own operation.
for s in "Flip-delete data forks:flip" "Delete data forks:delete-data" "Delete resource forks:delete-resource"; do
    grep -q "^Exec=$prefix/libexec/brackwater/brackwater-action ${s#*:} %F$" \
        "$prefix/share/kio/servicemenus/brackwater-forks.desktop" || fail "the service menu lacks ${s#*:}"
    grep -q "^exec \"\$action\" ${s#*:} \"\$@\"$" "$prefix/share/brackwater/nautilus-scripts/Brackwater/${s%:*}" ||
        fail "the Nautilus script ${s%:*} does not run ${s#*:}"
done
# The Nautilus scripts, reached through a link to their folder as the manual
# has the user make one, run the installed action.
ln -s "$prefix/share/brackwater/nautilus-scripts/Brackwater" "$E2E_DIR/home/nautilus-scripts"
action="$E2E_DIR/home/nautilus-scripts/Delete resource forks"
printf 'three' >"$tree/three"
setfattr -n user.com.apple.ResourceFork -v fork "$tree/three" || fail "no extended attributes here"
act 0 "zenity notify-send" "" "$tree/three"
logged 'zenity.log:You are about to delete the resource forks of the selected files.'
! getfattr -n user.com.apple.ResourceFork "$tree/three" 2>/dev/null || fail "the Nautilus script kept the resource fork"
unchanged three

echo "desktop entry, icons, metainfo and file-manager actions installed and working"
