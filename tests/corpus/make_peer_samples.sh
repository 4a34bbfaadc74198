#!/bin/bash
# Regenerates the sidecars in tests/corpus/peers/ with the real programs that
# write them. The tests use the committed bytes; this script documents how
# they were made. Needs: samba samba-vfs-modules smbclient unar macutils python3.
#
#   samba-fruit.ad           "._sample" written by smbd (vfs fruit, resource = file)
#                            when a client writes the AFP_Resource stream
#   samba-fruit.meta         the user.org.netatalk.Metadata attribute smbd wrote
#                            for the AFP_AfpInfo stream (Finder info TEXT/ttxt)
#   samba-fruit.rsrc         the fork bytes the client wrote
#   unar-hidden.ad           "._sample" written by `unar -forks hidden` from a
#                            BinHex archive made by macutils' binhex
#   unar-hidden.rsrc         the fork bytes put into the archive
#   macos-4096.ad            macOS's kernel shape: 4096 bytes, Finder info entry
#                            with an ATTR block (two attributes), blank fork.
#                            macOS does not run here: built from the documented
#                            layout of the blobs in Samba's torture tests.
set -euo pipefail
OUT="$(cd "$(dirname "$0")" && pwd)/peers"
WORK="$(mktemp -d)"
trap '[ -n "${SMBD:-}" ] && kill -- "-$SMBD" 2>/dev/null; rm -rf "$WORK"' EXIT
mkdir -p "$OUT" "$WORK"/{run,lock,state,cache,private,ncalrpc,share}
chmod 0777 "$WORK/share"

# A resource fork with a recognisable shape: 700 bytes.
python3 -c 'import sys; sys.stdout.buffer.write(bytes((i * 7 + 3) % 256 for i in range(700)))' \
    >"$WORK/fork.bin"
# AFP_AfpInfo: "AFP\0", version 0x100, reserved, backup time, Finder info, ProDOS, reserved.
python3 - "$WORK/afpinfo.bin" <<'PY'
import struct, sys
fi = b"TEXTttxt" + struct.pack(">H", 0x0100) + bytes(22)
open(sys.argv[1], "wb").write(b"AFP\0" + struct.pack(">III", 0x100, 0, 0x80000000) + fi + bytes(12))
PY

# ---- Samba's fruit module ----
PORT=44545
cat >"$WORK/smb.conf" <<CONF
[global]
  map to guest = Bad User
  smb ports = $PORT
  interfaces = 127.0.0.1
  bind interfaces only = yes
  pid directory = $WORK/run
  lock directory = $WORK/lock
  state directory = $WORK/state
  cache directory = $WORK/cache
  private dir = $WORK/private
  ncalrpc dir = $WORK/ncalrpc
  log file = $WORK/log.smbd
  fruit:resource = file
  fruit:metadata = netatalk
[share]
  path = $WORK/share
  read only = no
  guest ok = yes
  force user = root
  vfs objects = catia fruit streams_xattr
CONF
setsid smbd --foreground --no-process-group --configfile="$WORK/smb.conf" >"$WORK/smbd.out" 2>&1 &
SMBD=$!
for _ in $(seq 50); do
    smbclient -N -p $PORT //127.0.0.1/share -c 'ls' >/dev/null 2>&1 && break
    sleep 0.2
done
printf 'data fork of the sample\n' >"$WORK/data.txt"
smbclient -N -p $PORT //127.0.0.1/share -c "put $WORK/data.txt sample; \
    put $WORK/fork.bin sample:AFP_Resource; put $WORK/afpinfo.bin sample:AFP_AfpInfo"
cp "$WORK/share/._sample" "$OUT/samba-fruit.ad"
cp "$WORK/fork.bin" "$OUT/samba-fruit.rsrc"
getfattr --only-values -n user.org.netatalk.Metadata "$WORK/share/sample" >"$OUT/samba-fruit.meta"
# What Samba reads back through the stream must be the fork.
smbclient -N -p $PORT //127.0.0.1/share -c "get sample:AFP_Resource $WORK/back.bin"
cmp "$WORK/back.bin" "$WORK/fork.bin"

# ---- unar -forks hidden, from a BinHex archive made by macutils ----
mkdir -p "$WORK/hqx" "$WORK/unar"
# binhex reads MacBinary: a 128-byte header (name, type, creator, Finder flags,
# fork lengths), then each fork padded to 128 bytes.
python3 - "$WORK/data.txt" "$WORK/fork.bin" "$WORK/hqx/sample.bin" <<'PY'
import struct, sys
data, rsrc = open(sys.argv[1], "rb").read(), open(sys.argv[2], "rb").read()
h = bytearray(128)
h[1] = 6
h[2:8] = b"sample"
h[65:73] = b"TEXTttxt"
h[73] = 0x01
struct.pack_into(">II", h, 83, len(data), len(rsrc))
pad = lambda b: b + bytes(-len(b) % 128)
open(sys.argv[3], "wb").write(bytes(h) + pad(data) + pad(rsrc))
PY
binhex "$WORK/hqx/sample.bin" >"$WORK/hqx/sample.hqx"
sed -i '1s/.*/(This file must be converted with BinHex 4.0)/' "$WORK/hqx/sample.hqx"
(cd "$WORK/unar" && unar -q -forks hidden "$WORK/hqx/sample.hqx")
cp "$WORK/unar/._sample" "$OUT/unar-hidden.ad"
cp "$WORK/fork.bin" "$OUT/unar-hidden.rsrc"

# ---- macOS's 4096-byte shape ----
# The Finder info entry with its ATTR block as make_malformed.py builds it
# (with a tags value), then macOS's blank resource fork.
python3 - "$OUT/macos-4096.ad" "$(dirname "$OUT")" <<'PY'
import struct, sys
sys.path.insert(0, sys.argv[2])
from make_malformed import attr_sidecar
blank = bytearray(286)
struct.pack_into(">IIII", blank, 0, 256, 256, 0, 30)
blank[16:63] = b"This resource fork intentionally left blank   \0"
blank[256:272] = blank[0:16]
struct.pack_into(">HHH", blank, 280, 28, 30, 0xFFFF)
tags = b"bplist00\xa1\x01ZGreen\n2\x08\n" + bytes(range(0x40, 0x40 + 71))
data = attr_sidecar(values=(tags, b"baz"), debug=0x0008A6F3, fork=bytes(blank))
assert len(data) == 4096
open(sys.argv[1], "wb").write(data)
PY
echo "peer samples written to $OUT"
