#!/usr/bin/env bash
# Installs Brackwater into a private prefix and checks what the desktop learns
# from it: the desktop entry is valid, and a tool that changes files in place
# never becomes the opener of ordinary files or folders; the icon is there in
# every size of the hicolor theme, each image really that size, and no Mac
# icon family is installed; the AppStream metainfo validates and names the
# installed version. (That an installed copy finds the theme's icon beside its
# data folder: BundleResources_test; the file manager's actions installed with
# it: file_manager_actions.sh.)
source "$(dirname "$0")/lib.bash"
e2e_setup
prefix="$E2E_DIR/prefix"
cmake --install "$2" --prefix "$prefix" >/dev/null
entry="$prefix/share/applications/brackwater.desktop"
[ -f "$entry" ] || fail "no desktop entry installed"
desktop-file-validate "$entry" || fail "the desktop entry does not validate"

# Width and height from a PNG's header: the signature, then the IHDR chunk.
png_size() {
    python3 -c 'import struct, sys
d = open(sys.argv[1], "rb").read(24)
assert d[:8] == b"\x89PNG\r\n\x1a\n" and d[12:16] == b"IHDR"
print("%dx%d" % struct.unpack(">II", d[16:24]))' "$1" 2>/dev/null
}
for size in 16 22 24 32 48 64 128 256 512; do
    icon="$prefix/share/icons/hicolor/${size}x${size}/apps/brackwater.png"
    [ -f "$icon" ] || fail "no ${size} px icon installed"
    got=$(png_size "$icon") || fail "$icon is not a PNG"
    [ "$got" = "${size}x${size}" ] || fail "$icon is $got"
done
grep -q '<svg ' "$prefix/share/icons/hicolor/scalable/apps/brackwater.svg" ||
    fail "no scalable icon installed"
grep -q '^Icon=brackwater$' "$entry" || fail "the desktop entry names another icon"
[ -z "$(find "$prefix" -name '*.icns')" ] || fail "a Mac icon family was installed: $(find "$prefix" -name '*.icns')"

metainfo="$prefix/share/metainfo/io.github.brackwater.Brackwater.metainfo.xml"
[ -f "$metainfo" ] || fail "no metainfo installed"
version=$("$prefix/bin/brackwater" --version)
grep -q "<release version=\"${version#brackwater }\"" "$metainfo" ||
    fail "the metainfo has no release for $version"
# The whole tree: the metainfo validates, and its launchable's desktop entry is
# found beside it.
appstreamcli validate-tree --no-net "$prefix" || fail "the installed tree does not validate"

export XDG_DATA_HOME="$E2E_DIR/data" XDG_DATA_DIRS="$prefix/share"
mkdir -p "$XDG_DATA_HOME"
update-desktop-database "$prefix/share/applications"
for type in text/plain inode/directory application/octet-stream application/x-apple-diskimage; do
    opener=$(xdg-mime query default "$type" 2>/dev/null || true)
    [ "$opener" != brackwater.desktop ] || fail "Brackwater became the default opener of $type"
    ! grep -q "$type" "$prefix/share/applications/mimeinfo.cache" 2>/dev/null ||
        fail "Brackwater is offered in Open With for $type"
done
echo "desktop entry, icons and metainfo installed and valid; no ordinary type claimed"
