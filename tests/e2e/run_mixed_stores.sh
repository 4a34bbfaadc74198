#!/usr/bin/env bash
# Starts Brackwater with a folder whose files keep their resource forks in
# every store (a sidecar, netatalk 2's .AppleDouble headers, either extended
# attribute, none), confirms the alert with Return, and checks that each file
# was flipped with its fork left where it was: only the file without a fork
# gets a sidecar, netatalk's headers keep every byte but the fork, Samba's
# stream keeps its trailing NUL byte, and .AppleDouble/.Parent stays as it was.
set -euo pipefail
source "$(dirname "$0")/lib.bash"
e2e_window_setup "$@"
CORPUS=$(realpath "$(dirname "$0")/../corpus")

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
rd = lambda *p: open(os.path.join(*p), "rb").read()
over = lambda old, new: new + old[len(new):]
attr = lambda name, a: os.getxattr(os.path.join(data, name), a)
side, parent = rd(orig, "._side"), rd(orig, ".AppleDouble", ".Parent")
checks = {name + " data fork": (rd(data, name), b"")
          for name in ["side", "atalk", "atalk-new", "mac", "stream", "plain"]}
checks["._side"] = (rd(data, "._side"), side[:82] + over(side[82:], rd(orig, "side")))
for name in ["atalk", "atalk-new"]:
    was = rd(orig, ".AppleDouble", name)
    fork = over(was[741:], rd(orig, name))
    checks[name + "'s header"] = (rd(data, ".AppleDouble", name),
                                  was[:34] + len(fork).to_bytes(4, "big") + was[38:741] + fork)
checks[".AppleDouble/.Parent"] = (rd(data, ".AppleDouble", ".Parent"), parent)
checks["mac's attribute"] = (attr("mac", "user.com.apple.ResourceFork"),
                            over(b"mac fork, longer than its data", b"mac data"))
checks["stream's attribute"] = (attr("stream", "user.DosStream.AFP_Resource:$DATA"), b"stream data\0")
checks["._plain's fork"] = (rd(data, "._plain")[82:], b"plain data")
bad = ["%s: %d bytes, expected %d" % (what, len(got), len(want))
       for what, (got, want) in checks.items() if got != want]
bad += ["%s appeared" % n for d in (data, os.path.join(data, ".AppleDouble")) for n in os.listdir(d)
        if n.startswith(".bwtmp") or n in ("._atalk", "._atalk-new", "._mac", "._stream")]
print("\n".join(bad), file=sys.stderr)
sys.exit(1 if bad else 0)
PY
echo "ok: flipped 6 files, each fork in its own store"
