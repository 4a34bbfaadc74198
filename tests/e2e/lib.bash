# Shared by the end-to-end scripts (sourced, not run): a private home for the
# application, and helpers to wait for its windows under Xvfb. A script stops
# at its first failing command unless it says otherwise (set +e).
set -euo pipefail

e2e_setup() {
    E2E_DIR=$(mktemp -d /tmp/brackwater-e2e.XXXXXX)
    export XDG_CONFIG_HOME="$E2E_DIR/config" XDG_RUNTIME_DIR="$E2E_DIR/runtime"
    mkdir -p -m 700 "$XDG_CONFIG_HOME" "$XDG_RUNTIME_DIR"
    trap e2e_cleanup EXIT
}

# For the scripts that show windows (arguments: the binary, the build folder):
# BIN and BUILD, an X server, a private home. The script runs again under an X
# server of its own, once; the server does not reset when its last client goes
# (-noreset), so it stays usable between the programs a script starts.
e2e_window_setup() {
    BIN=$(realpath "$1") BUILD=$(realpath "$2")
    [ -n "${E2E_UNDER_XVFB:-}" ] ||
        E2E_UNDER_XVFB=1 exec xvfb-run -a -s "-screen 0 1280x800x24 -noreset" bash "$0" "$@"
    e2e_setup
    unset QT_QPA_PLATFORM
}

e2e_cleanup() {
    for pid in ${E2E_PIDS:-}; do kill "$pid" 2>/dev/null || true; done
    rm -rf "$E2E_DIR"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}

# Every entry below the folder $1: name, mode, size, link target, contents and
# extended attributes, to compare before and after a run.
e2e_snapshot() {
    (cd "$1" && find . -printf '%p %M %s %l\n' | sort && find . -type f -exec sha256sum {} + | sort &&
        getfattr -R -h -d -m - -e hex . 2>/dev/null)
}

# Runs the command until it succeeds, every tenth of a second up to $E2E_WAIT
# seconds (10 by default); fails when it never does.
e2e_until() {
    local i
    for ((i = 0; i < ${E2E_WAIT:-10} * 10; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Number of visible windows of a process.
visible_windows() {
    xdotool search --onlyvisible --pid "$1" 2>/dev/null | wc -l
}

# Waits until the process shows at least $2 windows (up to 20 seconds).
wait_windows() {
    shows() {
        [ "$(visible_windows "$1")" -ge "$2" ] && return 0
        kill -0 "$1" 2>/dev/null || fail "process $1 ended while waiting for $2 windows"
        return 1
    }
    E2E_WAIT=20 e2e_until shows "$1" "$2" || fail "process $1 did not show $2 windows"
}

# Waits for process $1 to end (up to $2 seconds, 20 by default) with status 0.
wait_exit_ok() {
    ended() { ! kill -0 "$1" 2>/dev/null; }
    E2E_WAIT=${2:-20} e2e_until ended "$1" || fail "process $1 still runs after ${2:-20} s"
    wait "$1" || fail "process $1 ended with status $?"
}

# Answers the confirmation alert of the process with a key. Without a window
# manager the alert may not have the keyboard focus yet when it appears, so the
# key is pressed again until the alert is gone.
answer_alert() {
    pressed() {
        xdotool key "$2"
        sleep 0.2
        [ "$(visible_windows "$1")" -lt 2 ] || ! kill -0 "$1" 2>/dev/null
    }
    e2e_until pressed "$1" "$2" || fail "the alert of process $1 did not take $2"
}

# Starts "$BIN" with the arguments after the first and waits until it shows $1
# windows; its process id goes to $pid and to E2E_PIDS.
e2e_start() {
    local count=$1
    shift
    "$BIN" "$@" &
    pid=$!
    E2E_PIDS="${E2E_PIDS:+$E2E_PIDS }$pid"
    wait_windows "$pid" "$count"
}
