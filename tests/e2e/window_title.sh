#!/usr/bin/env bash
# The real program under Xvfb on the simulated processor: a 544x400 client area
# titled "QUILM (manual)"; the close box and Escape end it with exit code 0.
source "$(dirname "$0")/lib.bash"
start_xvfb

QUILM_SIM=fam15h "$QUILM" 2>"$WORK/err1" &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
[ "$(window_size "$id")" = 544x400 ] || fail "client area is $(window_size "$id")"
grep -q 'simulated' "$WORK/err1" || fail "stderr does not say that the processor is simulated"
close_window "$id"
wait_exit "$pid"
[ "$EXIT_CODE" = 0 ] || fail "close box: exit code $EXIT_CODE"

QUILM_SIM=fam10h "$QUILM" 2>/dev/null &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
send_keys "$id" Escape
wait_exit "$pid"
[ "$EXIT_CODE" = 0 ] || fail "Escape: exit code $EXIT_CODE"
echo PASS
