#!/usr/bin/env bash
# The window's size: on a screen more than six windows tall it opens doubled, showing
# the 1:1 picture with every pixel doubled and taking clicks at doubled positions;
# QUILM_SCALE=1 keeps it 1:1 there. Without a display, a program started by pkexec
# says how to let root on the display or what to run instead.
source "$(dirname "$0")/lib.bash"

# No display: the hint for pkexec, and the Xvfb hint otherwise.
env -u DISPLAY -u WAYLAND_DISPLAY PKEXEC_UID=1000 QUILM_SIM=fam10h "$QUILM" 2>"$WORK/err" && fail "pkexec: exit code 0"
grep -q 'xhost +SI:localuser:root' "$WORK/err" && grep -q "quilm list" "$WORK/err" && grep -q "quilm apply" "$WORK/err" ||
    fail "pkexec: no xhost hint or word without a window: $(cat "$WORK/err")"
grep -q -i xvfb "$WORK/err" && fail "pkexec: the Xvfb hint instead"
env -u DISPLAY -u WAYLAND_DISPLAY -u PKEXEC_UID QUILM_SIM=fam10h "$QUILM" 2>"$WORK/err" && fail "exit code 0"
grep -q 'xvfb-run' "$WORK/err" || fail "no Xvfb hint: $(cat "$WORK/err")"

start_xvfb 90 1280x2880x24
state="$WORK/state.txt"

# Shows the window at QUILM_SCALE=$1, checks its size, takes its picture as $2.png.
shot() {
    QUILM_SCALE=$1 QUILM_SIM=fam10h QUILM_SIM_STATE="$state" "$QUILM" 2>/dev/null &
    pid=$!
    id=$(wait_window '^QUILM \(manual\)$')
    [ "$(window_size "$id")" = "$3" ] || fail "QUILM_SCALE=$1: client area $(window_size "$id"), not $3"
    sleep 0.3
    import -window "$id" "$WORK/$2.png"
}

shot 1 small 544x400
send_keys "$id" Escape
wait_exit "$pid"

shot "" big 1088x800
convert "$WORK/small.png" -scale 200% "$WORK/small2.png"
differ=$(compare -metric AE "$WORK/small2.png" "$WORK/big.png" null: 2>&1) || true
[ "$differ" = 0 ] || fail "the doubled picture is not the 1:1 picture doubled ($differ pixels differ)"

# "down" lies at (160, 376) in the 1:1 window.
xdotool mousemove --window "$id" 320 752 click 1
sleep 0.5
send_keys "$id" Escape
ends_with_0 "quilm"
grep -q '^0 C0010062 0000000000000001$' "$state" || fail "a click on the doubled \"down\" did not step down"
echo PASS
