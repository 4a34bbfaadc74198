#!/usr/bin/env bash
# Installs Brackwater into a private prefix and checks what the desktop learns
# from it: the desktop entry is valid, and a tool that changes files in place
# never becomes the opener of ordinary files or folders.
set -euo pipefail
build=$2
source "$(dirname "$0")/lib.bash"
e2e_setup
prefix="$E2E_DIR/prefix"
cmake --install "$build" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/brackwater.desktop"
[ -f "$entry" ] || fail "no desktop entry installed"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"

export XDG_DATA_HOME="$E2E_DIR/data" XDG_DATA_DIRS="$prefix/share"
mkdir -p "$XDG_DATA_HOME"
update-desktop-database "$prefix/share/applications"
for type in text/plain inode/directory application/octet-stream application/x-apple-diskimage; do
    opener=$(xdg-mime query default "$type" 2>/dev/null || true)
    [ "$opener" != brackwater.desktop ] || fail "Brackwater became the default opener of $type"
    if grep -q "$type" "$prefix/share/applications/mimeinfo.cache" 2>/dev/null; then
        fail "Brackwater is offered in Open With for $type"
    fi
done
echo "desktop entry installed, valid, and claims no ordinary type"
