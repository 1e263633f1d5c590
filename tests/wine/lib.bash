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
CLIENT_WIDTH=544
CLIENT_HEIGHT=400

WORK=$(mktemp -d)
XVFB_PID=""
QUILM_PID=""
export WINEDEBUG=-all
# QUILM_WINEPREFIX names a prefix shared by the tests of a run (tools/test-windows) or kept in
# the build directory (CTest): the first test makes it. Without one each test makes its own.
if [ -n "${QUILM_WINEPREFIX:-}" ]; then
    export WINEPREFIX=$QUILM_WINEPREFIX
else
    export WINEPREFIX=$WORK/prefix
fi

IMMUTABLE=""
cleanup() {
    [ -n "$QUILM_PID" ] && kill "$QUILM_PID" 2>/dev/null || true
    [ -n "$IMMUTABLE" ] && chattr -i "$IMMUTABLE" 2>/dev/null || true
    # The prefix's wineserver and its desktop belong to this test's Xvfb: both end with it, and
    # before the next test starts Wine in the same prefix.
    if [ -d "$WINEPREFIX" ]; then
        wineserver -k 2>/dev/null || true
        wineserver -w 2>/dev/null || true
    fi
    [ -n "$XVFB_PID" ] && kill "$XVFB_PID" 2>/dev/null || true
    rm -rf "$WORK"
}
trap cleanup EXIT

fail() {
    # The line of the test script whose step failed: the last call before the script's own level.
    local depth=${#BASH_LINENO[@]}
    echo "FAIL: $* (line ${BASH_LINENO[depth - 2]})" >&2
    # Only the test's own shell can ask for quilm's exit code, not a $(...) inside it.
    if [ "$BASHPID" = $$ ] && [ -n "$QUILM_PID" ] && ! kill -0 "$QUILM_PID" 2>/dev/null; then
        local code=0
        wait "$QUILM_PID" || code=$?
        QUILM_PID=""
        echo "      (quilm had ended with exit code $code; its stderr: $(tr '\n' ' ' <"$WORK/stderr"))" >&2
    fi
    exit 1
}

# Makes a Wine prefix in the directory unless one is there: 64-bit, unmanaged X11 windows
# (without a window manager Wine would wait 2 s for every window that closes), and a caption
# 32 pixels high instead of 19, so that the frame is not the one quilm guesses before it measures.
make_prefix() {
    local prefix=$1
    [ -f "$prefix/.quilm-ready" ] && return 0
    mkdir -p "$prefix"
    # Without mscoree and mshtml Wine does not offer to download Mono and Gecko (no network in CI).
    WINEPREFIX=$prefix WINEARCH=win64 WINEDLLOVERRIDES="mscoree,mshtml=" wineboot -i >/dev/null 2>&1 || true
    WINEPREFIX=$prefix wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1 ||
        fail "could not set up the Wine prefix $prefix"
    WINEPREFIX=$prefix wine reg add 'HKCU\Control Panel\Desktop\WindowMetrics' /v CaptionHeight /d -480 /f \
        >/dev/null 2>&1 || fail "could not set the caption height in the Wine prefix $prefix"
    WINEPREFIX=$prefix wineserver -w
    touch "$prefix/.quilm-ready"
}

source "$(dirname "${BASH_SOURCE[0]}")/../xvfb.bash"

# Xvfb and the prefix, ready for quilm.exe.
start_wine() {
    start_xvfb 140
    make_prefix "$WINEPREFIX"
}

# A folder with quilm.exe and, when the first argument is "dll", the simulated WinRing0 beside it.
make_app_dir() {
    local dir=$WORK/app$RANDOM
    mkdir -p "$dir"
    cp "$BUILD/quilm.exe" "$dir/"
    [ "${1:-}" = dll ] && cp "$BUILD/demo/$DLL" "$dir/"
    echo "$dir"
}

# The Windows name of a file of this machine (Wine's drive Z: is the root directory).
windows_path() { local p=$1; echo "Z:${p//\//\\}"; }

# Starts quilm.exe from the folder with the given arguments; QUILM_PID is its process.
# Its stderr goes to $WORK/stderr.
start_quilm() {
    local dir=$1; shift
    wine "$dir/quilm.exe" "$@" >/dev/null 2>"$WORK/stderr" &
    QUILM_PID=$!
}

# Prints the id of the visible window whose title matches the regular expression, waiting up to 20 s.
wait_window() {
    local id=""
    for _ in $(seq 200); do
        id=$(xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n 1 || true)
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    fail "no window titled /$1/ (visible: $(visible_titles))"
}

# Waits up to 10 s until no visible window has a title matching the regular expression.
wait_no_window() {
    for _ in $(seq 100); do
        xdotool search --onlyvisible --name "$1" >/dev/null 2>&1 || return 0
        sleep 0.1
    done
    fail "a window titled /$1/ is still there"
}

visible_titles() {
    local id
    for id in $(xdotool search --onlyvisible --name . 2>/dev/null || true); do
        printf '"%s" ' "$(xdotool getwindowname "$id" 2>/dev/null || true)"
    done
}

# Waits up to 10 s for quilm to end and fails unless it ended with exit code 0. Called by the
# test's own shell, never inside $(...): only the shell that started quilm learns its exit code.
expect_exit_0() {
    local code=0
    for _ in $(seq 100); do
        kill -0 "$QUILM_PID" 2>/dev/null || break
        sleep 0.1
    done
    kill -0 "$QUILM_PID" 2>/dev/null && fail "$1: quilm did not end"
    wait "$QUILM_PID" || code=$?
    QUILM_PID=""
    [ "$code" = 0 ] || fail "$1: exit code $code"
}

# Finds the client area of the main window. Wine draws the frame inside the X window: borders of
# equal width left, right and below, the caption above. Sets CLIENT_X and CLIENT_Y (screen
# position of the client's top-left pixel) and FRAME ("WIDTHxHEIGHT" of the whole window).
find_client() {
    local id=$1 x y w h border
    eval "$(xwininfo -id "$id" | awk '/Absolute upper-left X:/{print "x=" $4} /Absolute upper-left Y:/{print "y=" $4}
                                       /Width:/{print "w=" $2} /Height:/{print "h=" $2}')"
    FRAME=${w}x${h}
    border=$(((w - CLIENT_WIDTH) / 2))
    CLIENT_X=$((x + border))
    CLIENT_Y=$((y + h - CLIENT_HEIGHT - border))
}

# Takes the client area (544x400 from CLIENT_X, CLIENT_Y) as a PNG file.
grab_client() {
    import -window root -crop "${CLIENT_WIDTH}x${CLIENT_HEIGHT}+$CLIENT_X+$CLIENT_Y" +repage "$1"
}

# Waits up to 10 s for the window's client area to show the picture in the PNG file, and leaves
# in DIFFER the number of pixels that still differ (0 once it does). The window is on screen
# before quilm has drawn anything and before it has corrected its size, so the client area is
# found anew every time.
wait_picture() {
    local id=$1 golden=$2 actual=$3
    DIFFER=""
    for _ in $(seq 20); do
        find_client "$id"
        grab_client "$actual"
        DIFFER=$(compare -metric AE "$golden" "$actual" "$WORK/diff.png" 2>&1 || true)
        [ "$DIFFER" = 0 ] && return 0
        sleep 0.5
    done
}

# Waits up to 10 s until quilm has drawn its window and sets CLIENT_X and CLIENT_Y. The window
# shows black until quilm has drawn, and its frame has the size of quilm's first guess until
# quilm has measured it; only then are all four corners of the client area the background.
wait_drawn() {
    local background corners
    background=$(convert "$SOURCE/tests/golden/main_window_fam15h.png" -format '%[pixel:p{0,0}]' info:)
    for _ in $(seq 50); do
        find_client "$1"
        grab_client "$WORK/drawn.png"
        corners=$(convert "$WORK/drawn.png" -format \
            '%[pixel:p{0,0}] %[pixel:p{543,0}] %[pixel:p{0,399}] %[pixel:p{543,399}]' info:)
        [ "$corners" = "$background $background $background $background" ] && return 0
        sleep 0.2
    done
    fail "quilm drew nothing into its window (its corners are $corners)"
}

# Clicks with the left button at a client position.
click() {
    xdotool mousemove $((CLIENT_X + $1)) $((CLIENT_Y + $2)) click 1
    sleep 0.2
}

# Drags with the left button from one client position to another.
drag() {
    xdotool mousemove $((CLIENT_X + $1)) $((CLIENT_Y + $2)) mousedown 1
    sleep 0.1
    xdotool mousemove $((CLIENT_X + $3)) $((CLIENT_Y + $4))
    sleep 0.1
    xdotool mouseup 1
    sleep 0.2
}

# A click on the window's background: the window takes the keyboard, nothing is pressed.
activate() { click 530 50; }

# Keys to whatever has the keyboard.
keys() {
    xdotool key --delay 80 "$@"
    sleep 0.2
}

# Answers the message box with this caption (Return presses its OK button).
answer_box() {
    local box
    box=$(wait_window "^$1\$")
    xdotool windowfocus "$box" 2>/dev/null || true
    keys Return
    wait_no_window "^$1\$"
}

# Makes a file read-only for Wine, for root too: without write permission, and immutable where
# the file system allows it (root may open any file for writing, but no immutable one).
make_read_only() {
    chmod 444 "$1"
    if [ "$(id -u)" = 0 ] && chattr +i "$1" 2>/dev/null; then IMMUTABLE=$1; fi
}

# Undoes make_read_only.
make_writable() {
    [ "$IMMUTABLE" = "$1" ] && chattr -i "$1" && IMMUTABLE=""
    chmod 644 "$1"
}

# The value of one register of one processor in the simulator's state file (written on Windows,
# so its lines end in CR LF).
sim_register() { tr -d '\r' <"$1" | awk -v p="$2" -v r="$3" '$1 == p && $2 == r {print $3}'; }
