#!/usr/bin/env bash
# The window's live page under Xvfb: F2 shows it, it refreshes by itself once a second while it
# is shown, and F2 brings back the main page exactly as it was.
source "$(dirname "$0")/lib.bash"
start_xvfb 110
pixels_differing() { compare -metric AE "$1" "$2" null: 2>&1 || true; }

QUILM_SIM=fam19h,load=80 QUILM_SIM_STATE="$WORK/state.txt" "$QUILM" 2>/dev/null &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
wait_file "$WORK/state.txt"
sleep 0.3
import -window "$id" "$WORK/main.png"
send_keys "$id" F2
sleep 0.3
import -window "$id" "$WORK/opened.png"
[ "$(pixels_differing "$WORK/main.png" "$WORK/opened.png")" != 0 ] || fail "F2 did not open the live page"
sleep 2
import -window "$id" "$WORK/refreshed.png"
[ "$(pixels_differing "$WORK/opened.png" "$WORK/refreshed.png")" != 0 ] || fail "the live page did not refresh"
send_keys "$id" F2
sleep 0.3
import -window "$id" "$WORK/back.png"
differ=$(pixels_differing "$WORK/main.png" "$WORK/back.png")
[ "$differ" = 0 ] || fail "the main page came back with $differ other pixels"
send_keys "$id" Escape
wait_exit "$pid"
[ "$EXIT_CODE" = 0 ] || fail "exit code $EXIT_CODE"
echo "live page: F2 opens it, it refreshes itself, F2 brings the main page back unchanged"
