# Shared helpers of the Wine tests: the Windows build run under Wine on a private
# Xvfb, with the simulated WinRing0 beside it. Wine draws the window frame itself
# (its X11 driver is set to unmanaged, so no window manager is needed), and the
# tests reach the client area through the frame.
set -euo pipefail

BUILD=${1:?usage: $0 path/to/the/mingw/build}
BUILD=$(cd "$BUILD" && pwd)
SOURCE=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)
[ -f "$BUILD/quilm.exe" ] || { echo "FAIL: no quilm.exe in $BUILD (build the mingw preset first)" >&2; exit 1; }
DLL=WinRing0x64.dll
WORK=$(mktemp -d)
XVFB_PID="" QUILM_PID="" IMMUTABLE=""
export WINEDEBUG=-all
# QUILM_WINEPREFIX names a prefix shared by the tests of a run (tools/test-windows) or kept in
# the build directory (CTest): the first test makes it. Without one each test makes its own.
export WINEPREFIX=${QUILM_WINEPREFIX:-$WORK/prefix}

cleanup() {
    [ -n "$QUILM_PID" ] && kill "$QUILM_PID" 2>/dev/null || true
    [ -n "$IMMUTABLE" ] && chattr -i "$IMMUTABLE" 2>/dev/null || true
    # The prefix's wineserver and its desktop belong to this test's Xvfb: both end with it, and
    # before the next test starts Wine in the same prefix.
    if [ -d "$WINEPREFIX" ]; then wineserver -k 2>/dev/null || true; wineserver -w 2>/dev/null || true; fi
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

# Ends the test with the message, the line of the test script whose step failed (the last call
# before the script's own level) and what quilm said on stderr.
fail() {
    echo "FAIL: $* (line ${BASH_LINENO[${#BASH_LINENO[@]} - 2]})" >&2
    [ ! -s "$WORK/stderr" ] || echo "      (quilm's stderr: $(tr '\n' ' ' <"$WORK/stderr"))" >&2
    exit 1
}

# Runs the command every 0.2 s until it succeeds, for at most 20 s; false if it never does.
retry() { for _ in $(seq 100); do "$@" && return 0; sleep 0.2; done; return 1; }

source "$(dirname "${BASH_SOURCE[0]}")/../xvfb.bash"

# Xvfb, and a Wine prefix unless one is there: 64-bit, unmanaged X11 windows (without a window
# manager Wine would wait 2 s for every window that closes), and a caption 32 pixels high
# instead of 19, so that the frame is not the one quilm guesses before it measures.
start_wine() {
    start_xvfb 140
    [ -f "$WINEPREFIX/.quilm-ready" ] && return 0
    mkdir -p "$WINEPREFIX"
    # Without mscoree and mshtml Wine does not offer to download Mono and Gecko (no network in CI).
    WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
    wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 &&
        wine reg add 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionHeight /d -480 /f >/dev/null 2>&1 ||
        fail "could not set up the Wine prefix $WINEPREFIX"
    wineserver -w
    touch "$WINEPREFIX/.quilm-ready"
}

# A folder with quilm.exe and, when the first argument is "dll", the simulated WinRing0 beside it;
# its path holds a blank, as a program installed in "Program Files" does.
make_app_dir() {
    local dir="$WORK/Program Files/app$RANDOM"
    mkdir -p "$dir"
    cp "$BUILD/quilm.exe" "$dir/"
    [ "${1:-}" = dll ] && cp "$BUILD/demo/$DLL" "$dir/"
    echo "$dir"
}

# Starts quilm.exe from the folder with the given arguments; QUILM_PID is its process, and its
# stderr goes to $WORK/stderr.
start_quilm() {
    local dir=$1; shift
    wine "$dir/quilm.exe" "$@" >/dev/null 2>"$WORK/stderr" &
    QUILM_PID=$!
}

# The id of a visible window whose title matches the regular expression.
window_id() { xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 | grep .; }
no_window() { ! xdotool search --onlyvisible --name "$1" >/dev/null 2>&1; }

# Prints the id of the visible window whose title matches the regular expression, once there is one.
wait_window() {
    retry window_id "$1" ||
        fail "no window titled /$1/ (visible: $(xdotool search --onlyvisible --name . getwindowname %@ 2>/dev/null | tr '\n' '|'))"
}

# Waits for quilm to end and fails unless it ended with exit code 0. Called by the test's own
# shell, never inside $(...): only the shell that started quilm learns its exit code.
expect_exit_0() {
    local code=0
    retry no_process || fail "$1: quilm did not end"
    wait "$QUILM_PID" || code=$?
    QUILM_PID=""
    [ "$code" = 0 ] || fail "$1: exit code $code"
}
no_process() { ! kill -0 "$QUILM_PID" 2>/dev/null; }

# Takes the client area of the main window as $WORK/client.png. Wine draws the frame inside the X
# window: borders of equal width left, right and below, the caption above. Sets CLIENT_X and
# CLIENT_Y (screen position of the client's top-left pixel) and FRAME ("WIDTHxHEIGHT" of the
# whole window). The window is on screen before quilm has drawn anything and before it has
# corrected its size, so the client area is found anew every time.
grab_client() {
    local x y w h
    eval "$(xwininfo -id "$1" | awk '/Absolute upper-left X:/{print "x=" $4} /Absolute upper-left Y:/{print "y=" $4}
                                     /Width:/{print "w=" $2} /Height:/{print "h=" $2}')"
    FRAME=${w}x${h}
    CLIENT_X=$((x + (w - 544) / 2))
    CLIENT_Y=$((y + h - 400 - (w - 544) / 2))
    import -window root -crop "544x400+$CLIENT_X+$CLIENT_Y" +repage "$WORK/client.png"
}

# Whether the client area shows the golden picture NAME exactly.
shows_picture() {
    grab_client "$1"
    DIFFER=$(compare -metric AE "$SOURCE/tests/golden/$2.png" "$WORK/client.png" "$WORK/diff.png" 2>&1 || true)
    [ "$DIFFER" = 0 ]
}

# Fails unless the window comes to show tests/golden/NAME.png; a differing picture and the
# difference are left in the build folder.
expect_picture() {
    retry shows_picture "$1" "$2" && return 0
    cp "$WORK/client.png" "$BUILD/$2.wine.png"
    cp "$WORK/diff.png" "$BUILD/$2.wine-diff.png" 2>/dev/null || true
    fail "$DIFFER pixels differ from $2.png (window $FRAME; see $BUILD/$2.wine.png)"
}

# Whether quilm has drawn its window: it shows black until then, and its frame has the size of
# quilm's first guess until quilm has measured it; only then are the four corners of the client
# area those of its pictures.
drawn() {
    grab_client "$1"
    [ "$(corners "$WORK/client.png")" = "$(corners "$SOURCE/tests/golden/main_window_fam15h.png")" ]
}
corners() { convert "$1" -format '%[pixel:p{0,0}] %[pixel:p{543,0}] %[pixel:p{0,399}] %[pixel:p{543,399}]' info:; }
wait_drawn() { retry drawn "$1" || fail "quilm drew nothing into its window (corners $(corners "$WORK/client.png"))"; }

# Clicks, or drags with the left button, at client positions.
click() { xdotool mousemove $((CLIENT_X + $1)) $((CLIENT_Y + $2)) click 1 sleep 0.2; }
drag() {
    xdotool mousemove $((CLIENT_X + $1)) $((CLIENT_Y + $2)) mousedown 1 sleep 0.1 \
        mousemove $((CLIENT_X + $3)) $((CLIENT_Y + $4)) sleep 0.1 mouseup 1 sleep 0.2
}

# A click on the window's background: the window takes the keyboard, nothing is pressed.
activate() { click 530 50; }

# Keys to whatever has the keyboard.
keys() { xdotool key --delay 80 "$@" && sleep 0.2; }

# Answers the message box with this caption (Return presses its OK button).
answer_box() {
    local box
    box=$(wait_window "^$1\$")
    xdotool windowfocus "$box" 2>/dev/null || true
    keys Return
    retry no_window "^$1\$" || fail "a window titled /$1/ is still there"
}

# The simulator's state file without the CR of its Windows line ends, or one register of one
# processor from it.
state() { tr -d '\r' <"$1"; }
sim_register() { state "$1" | awk -v p="$2" -v r="$3" '$1 == p && $2 == r {print $3}'; }
