#!/usr/bin/env bash
# A user drags row 1's multiplier slider, presses "apply settings" and then "down":
# the simulator's state file shows the new definition on every processor, the
# other rows bit for bit as before, and the new current P-state.
source "$(dirname "$0")/lib.bash"
start_xvfb
state="$WORK/state.txt"

QUILM_SIM=fam10h QUILM_SIM_STATE="$state" "$QUILM" 2>/dev/null &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
wait_file "$state"
cp "$state" "$WORK/before.txt"

# Row 1 (y 104..139): the multiplier slider at x 284, knob at 284 + pos, 11.5 x = pos 15.
xdotool mousemove --window "$id" 304 134 mousedown 1
xdotool mousemove --window "$id" 314 134
xdotool mousemove --window "$id" 324 134 mouseup 1
sleep 0.3
xdotool mousemove --window "$id" 460 376 click 1   # apply settings
sleep 0.5
xdotool mousemove --window "$id" 160 376 click 1   # down
sleep 0.5
send_keys "$id" Escape
ends_with_0 "quilm"

value() { awk -v p="$1" -v r="$2" '$1 == p && $2 == r { print $3 }' "$3"; }
for p in 0 1 2 3; do
    old=$(value "$p" C0010065 "$WORK/before.txt")
    new=$(value "$p" C0010065 "$state")
    fid_old=$((16#${old:14:2} & 63)); fid_new=$((16#${new:14:2} & 63))
    [ "$fid_new" -gt "$fid_old" ] || fail "processor $p: multiplier did not grow ($old -> $new)"
    [ "$(value "$p" C0010062 "$state")" = 0000000000000001 ] || fail "processor $p: down did not reach the control register"
done
others() { grep -v -E ' C00100(62|63|65|71) ' "$1"; } # all but row 1 and the current P-state
[ "$(others "$WORK/before.txt")" = "$(others "$state")" ] || fail "registers beside row 1 changed"
echo PASS
