#!/usr/bin/env bash
# The settings file of the Windows program under Wine: saved while auto mode is on,
# loaded by the command-line word "load" even when it is read-only (then applied,
# with auto mode on again), and refused with the "error!?" box when it is short.
source "$(dirname "$0")/lib.bash"
start_wine

app=$(make_app_dir dll)
cfg=$app/quilm.cfg
export QUILM_SIM=fam15h QUILM_SIM_STATE
QUILM_SIM_STATE=$(windows_path "$WORK/state.txt")

# Save with auto mode on: byte 96 of the file is 1. Escape ends the program, governor and all.
start_quilm "$app"
id=$(wait_window '^QUILM \(manual\)$')
wait_drawn "$id"
click 94 376
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
click 456 20
answer_box success
activate
keys Escape
expect_exit_0 "Escape in auto mode"
[ -f "$cfg" ] || fail "no quilm.cfg beside quilm.exe"
[ "$(od -An -tu1 -j96 -N1 "$cfg" | tr -d ' ')" = 1 ] || fail "quilm.cfg does not say that auto mode was on"

# "load" as the first word: the file is loaded and applied, and auto mode comes back by itself.
# The file is read-only: reading it must not ask for write access as well.
make_read_only "$cfg"
start_quilm "$app" load
id=$(wait_window '^QUILM \(')
wait_drawn "$id"
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
xdotool search --onlyvisible --name '^error!\?$' >/dev/null 2>&1 && fail "loading a read-only quilm.cfg failed"
# The "exit" button ends the program at once, governor running or not.
click 333 376
expect_exit_0 "exit button"

# A file of 50 bytes is refused with the "error!?" box; nothing is applied and auto mode stays off.
make_writable "$cfg"
rm -f "$cfg"
head -c 50 /dev/zero >"$cfg"
before=$(tr -d '\r' <"$WORK/state.txt")
start_quilm "$app" load
wait_window '^QUILM \(manual\)$' >/dev/null
answer_box 'error!\?'
sleep 0.5
wait_window '^QUILM \(manual\)$' >/dev/null
[ "$(tr -d '\r' <"$WORK/state.txt")" = "$before" ] || fail "a short quilm.cfg changed the registers"
id=$(wait_window '^QUILM \(manual\)$')
wait_drawn "$id"
# Alt+F4 closes the window as the system menu's Close does.
activate
keys alt+F4
expect_exit_0 "Alt+F4"
echo PASS
