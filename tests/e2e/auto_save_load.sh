#!/usr/bin/env bash
# Automatic mode and the settings file as a user meets them: AUTO puts the
# governor's row into the title, "save" writes quilm.cfg beside the executable,
# MANUAL gives the manual title back, "exit" ends with 0, and a start with "load"
# applies the file and switches automatic mode on again; start-up failures show their box and
# end with 0; the window is 544x400, says the
# processor is simulated, and Escape and the close box both end it with 0.
source "$(dirname "$0")/lib.bash"
start_xvfb
cp "$QUILM" "$WORK/quilm"
export QUILM_SIM=fam10h QUILM_SIM_STATE="$WORK/state.txt"

click() { xdotool mousemove --window "$1" "$2" "$3" click 1; }

"$WORK/quilm" 2>"$WORK/err" &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
[ "$(window_size "$id")" = 544x400 ] || fail "client area is $(window_size "$id")"
grep -q 'simulated' "$WORK/err" || fail "stderr does not say that the processor is simulated"
click "$id" 72 376                                   # AUTO
wait_window '^QUILM \([0-9] auto\)$' >/dev/null
click "$id" 444 18                                   # save
box=$(wait_window '^success$')
send_keys "$box" Return
[ "$(stat -c %s "$WORK/quilm.cfg")" = 102 ] || fail "quilm.cfg is not 97 bytes and the layout trailer"
[ "$(od -An -tu1 -j96 -N1 "$WORK/quilm.cfg" | tr -d ' ')" = 1 ] || fail "auto mode not saved"
click "$id" 72 376                                   # MANUAL
wait_window '^QUILM \(manual\)$' >/dev/null
click "$id" 322 376                                  # exit
ends_with_0 "exit button"

rm "$WORK/state.txt"
"$WORK/quilm" load 2>/dev/null &
pid=$!
id=$(wait_window '^QUILM \([0-9] auto\)$')
send_keys "$id" Escape
ends_with_0 "Escape during auto mode"

# The "load" button with a file saved for another register layout: the failure box, nothing written.
printf '\002' | dd of="$WORK/quilm.cfg" bs=1 seek=101 conv=notrunc status=none
"$WORK/quilm" 2>/dev/null &
pid=$!
id=$(wait_window '^QUILM \(manual\)$')
wait_file "$WORK/state.txt"
cp "$WORK/state.txt" "$WORK/state.before"
click "$id" 398 20                                   # load
send_keys "$(wait_window '^error!\?$')" Return
click "$id" 468 376                                  # apply settings: the processor's own table
sleep 0.5
cmp -s "$WORK/state.txt" "$WORK/state.before" || fail "a refused load changed registers"
close_window "$id"
ends_with_0 "refused load, closed"

# A load that fails names the file.
rm "$WORK/quilm.cfg"
"$WORK/quilm" load 2>/dev/null &
pid=$!
box=$(wait_window '^error!\?$')
send_keys "$box" Return
id=$(wait_window '^QUILM \(manual\)$')
close_window "$id"                                   # the close box
ends_with_0 "failed load, closed"
# Start-up failures: the box, then exit code 0 and the reason on stderr; without the simulator
# where there are no MSR devices too.
sims=("fam10h,pstates=1" nosuchprofile)
[ -e /dev/cpu/0/msr ] || sims+=(none)
for sim in "${sims[@]}"; do
    if [ "$sim" = none ]; then env -u QUILM_SIM "$WORK/quilm" 2>"$WORK/err" & else QUILM_SIM=$sim "$WORK/quilm" 2>"$WORK/err" & fi
    pid=$!
    send_keys "$(wait_window '^error!\?$')" Return
    wait_exit "$pid"
    [ "$EXIT_CODE" = 0 ] && [ -s "$WORK/err" ] || fail "start-up failure $sim: exit code $EXIT_CODE, stderr '$(cat "$WORK/err")'"
done
echo PASS
