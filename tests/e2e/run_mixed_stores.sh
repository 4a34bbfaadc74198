#!/usr/bin/env bash
# Starts Brackwater with a folder whose files keep their resource forks in
# every store (a sidecar, netatalk 2's .AppleDouble headers, either extended
# attribute, none), confirms the alert with Return, and checks that each file
# was flipped with its fork left where it was: only the file without a fork
# gets a sidecar, netatalk's headers keep every byte but the fork, Samba's
# stream keeps its trailing NUL byte, and .AppleDouble/.Parent stays as it was.
set -euo pipefail
BIN=$(realpath "$1")
CORPUS=$(realpath "$(dirname "$0")/../corpus")
source "$(dirname "$0")/lib.bash"
e2e_under_xvfb "$@"
e2e_setup

data="$E2E_DIR/data"
mkdir -p "$data/.AppleDouble"
python3 - "$data" "$CORPUS" <<'PY'
import os, struct, sys
data, corpus = sys.argv[1], sys.argv[2]
def put(name, content):
    with open(os.path.join(data, name), "wb") as f:
        f.write(content)
def peer(name):
    return open(os.path.join(corpus, "peers", name), "rb").read()
fi = b"TEXTttxt" + struct.pack(">H", 0x100) + bytes(22)
fork = bytes(range(200))
head = struct.pack(">II16sH", 0x00051607, 0x00020000, b"Mac OS X".ljust(16), 2)
head += struct.pack(">III", 9, 50, 32) + struct.pack(">III", 2, 82, len(fork))
put("side", b"side data")
put("._side", head + fi + fork)
put("atalk", b"atalk data")
put(".AppleDouble/atalk", peer("netatalk2-fork.ad"))
put("atalk-new", b"data for a header without a fork")
put(".AppleDouble/atalk-new", peer("netatalk2-empty.ad"))
put(".AppleDouble/.Parent", peer("netatalk2-parent.ad"))
put("mac", b"mac data")
os.setxattr(os.path.join(data, "mac"), "user.com.apple.ResourceFork", b"mac fork, longer than its data")
put("stream", b"stream data")
os.setxattr(os.path.join(data, "stream"), "user.DosStream.AFP_Resource:$DATA", b"stream fork\0")
put("plain", b"plain data")
PY
cp -a "$data" "$E2E_DIR/original"

e2e_start 2 "$data" # the main window and the confirmation alert
answer_alert "$pid" Return
wait_exit_ok "$pid"
[ ! -e "$XDG_RUNTIME_DIR/brackwater.socket" ] || fail "the socket was left behind"

python3 - "$data" "$E2E_DIR/original" <<'PY' || fail "a fork is not where it was"
import os, sys
data, orig = sys.argv[1], sys.argv[2]
def rd(*p):
    return open(os.path.join(*p), "rb").read()
def over(old, new):
    return new + old[len(new):]
bad = []
def expect(what, got, want):
    if got != want:
        bad.append("%s: %d bytes, expected %d" % (what, len(got), len(want)))
for name in ["side", "atalk", "atalk-new", "mac", "stream", "plain"]:
    expect(name + " data fork", rd(data, name), b"")
was = rd(orig, "._side")
expect("._side", rd(data, "._side"), was[:82] + over(was[82:], rd(orig, "side")))
for name in ["atalk", "atalk-new"]:
    was = rd(orig, ".AppleDouble", name)
    fork = over(was[741:], rd(orig, name))
    want = was[:34] + len(fork).to_bytes(4, "big") + was[38:741] + fork
    expect(".AppleDouble/" + name, rd(data, ".AppleDouble", name), want)
expect(".AppleDouble/.Parent", rd(data, ".AppleDouble", ".Parent"), rd(orig, ".AppleDouble", ".Parent"))
expect("mac's attribute", os.getxattr(os.path.join(data, "mac"), "user.com.apple.ResourceFork"),
       over(b"mac fork, longer than its data", b"mac data"))
expect("stream's attribute", os.getxattr(os.path.join(data, "stream"), "user.DosStream.AFP_Resource:$DATA"),
       b"stream data\0")
for name in ["atalk", "atalk-new", "mac", "stream"]:
    if os.path.exists(os.path.join(data, "._" + name)):
        bad.append("._%s appeared" % name)
expect("._plain's fork", rd(data, "._plain")[82:], b"plain data")
leftovers = [n for d in (data, os.path.join(data, ".AppleDouble")) for n in os.listdir(d) if n.startswith(".bwtmp")]
if leftovers:
    bad.append("temporary files left: %s" % leftovers)
for b in bad:
    print(b, file=sys.stderr)
sys.exit(1 if bad else 0)
PY
echo "ok: flipped 6 files, each fork in its own store"
