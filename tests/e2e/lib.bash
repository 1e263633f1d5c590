# Shared helpers of the end-to-end tests: a private Xvfb, waiting for windows,
# closing them the way a window manager's close box does, screenshots.
set -euo pipefail

QUILM=${1:?usage: $0 path/to/quilm}
WORK=$(mktemp -d)
XVFB_PID=""
cleanup() {
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

source "$(dirname "${BASH_SOURCE[0]}")/../xvfb.bash"

# Prints the id of a viewable top-level window whose title matches the extended regular
# expression, waiting up to 10 s. (Titles are read with xwininfo: xdotool does not read
# titles stored as UTF8_STRING, as SDL's message boxes store theirs.)
wait_window() {
    local id name
    for _ in $(seq 100); do
        while read -r id name; do
            if printf '%s' "$name" | grep -q -E -- "$1" &&
                xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable'; then
                echo "$id"
                return 0
            fi
        done < <(xwininfo -root -children 2>/dev/null | sed -n 's/^ *\(0x[0-9a-f]*\) "\(.*\)": .*/\1 \2/p')
        sleep 0.1
    done
    fail "no window titled /$1/"
}

# Waits up to 10 s for a file to exist and hold something (the simulator writes its state file once
# hardware access is open, which is after the window appears).
wait_file() {
    for _ in $(seq 100); do [ -s "$1" ] && return 0; sleep 0.1; done
    fail "no file $1"
}

# Waits up to 10 s for the process to end and sets EXIT_CODE to its exit code.
wait_exit() {
    local pid=$1
    for _ in $(seq 100); do
        if ! kill -0 "$pid" 2>/dev/null; then
            EXIT_CODE=0
            wait "$pid" || EXIT_CODE=$?
            return 0
        fi
        sleep 0.1
    done
    kill "$pid" 2>/dev/null || true
    fail "process $pid did not end"
}

# Asks a window to close as a window manager's close box does (WM_DELETE_WINDOW).
close_window() { python3 "$(dirname "${BASH_SOURCE[0]}")/x11_close.py" "$1"; }

# Client area size of a window as "WIDTHxHEIGHT".
window_size() { xwininfo -id "$1" | awk '/Width:/{w=$2} /Height:/{h=$2} END{print w "x" h}'; }

# Sends keys to a window after giving it the keyboard focus.
send_keys() {
    local id=$1; shift
    xdotool windowfocus --sync "$id" 2>/dev/null || xdotool windowfocus "$id"
    xdotool key --delay 50 "$@"
}

# Waits for the program to end and fails unless it ended with exit code 0.
ends_with_0() {
    wait_exit "$pid"
    [ "$EXIT_CODE" = 0 ] || fail "$1: exit code $EXIT_CODE"
}

# Runs a command with stdout in $WORK/out and stderr in $WORK/err; fails unless it exits with $1.
expect_exit() {
    local want=$1; shift
    set +e; "$@" >"$WORK/out" 2>"$WORK/err"; local got=$?; set -e
    [ "$got" = "$want" ] || fail "$* exits $got, not $want: $(cat "$WORK/err")"
}
