#!/usr/bin/env bash
# Start-up failures under Xvfb: a message box captioned "error!?" over the main
# window, and exit code 0 once it is acknowledged.
source "$(dirname "$0")/lib.bash"
start_xvfb

for sim in "fam10h,init=fail" "fam10h,driver=error" "fam10h,pstates=1" "nosuchprofile"; do
    QUILM_SIM=$sim "$QUILM" 2>"$WORK/err" &
    pid=$!
    wait_window '^QUILM \(manual\)$' >/dev/null
    box=$(wait_window '^error!\?$')
    send_keys "$box" Return
    wait_exit "$pid"
    [ "$EXIT_CODE" = 0 ] || fail "$sim: exit code $EXIT_CODE"
done
grep -q nosuchprofile "$WORK/err" || fail "an unknown profile is not named on stderr"

# No simulator and no MSR device: the box, and a reason on stderr.
if [ ! -e /dev/cpu/0/msr ]; then
    env -u QUILM_SIM "$QUILM" 2>"$WORK/err" &
    pid=$!
    box=$(wait_window '^error!\?$')
    send_keys "$box" Return
    wait_exit "$pid"
    [ "$EXIT_CODE" = 0 ] || fail "no msr device: exit code $EXIT_CODE"
    [ -s "$WORK/err" ] || fail "no msr device: nothing said on stderr"
fi
echo PASS
