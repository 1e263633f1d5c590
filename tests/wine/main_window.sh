#!/usr/bin/env bash
# The Windows program under Wine on the simulated family 15h processor: exactly the picture
# of the Linux build in a 544x400 client area, a slider drag applied to every simulated
# processor, AUTO and back, "save" in auto mode beside quilm.exe (replacing a link planted
# there rather than writing through it), "load" of a read-only file and the refusal of a
# short one, and Escape, the exit button and Alt+F4 ending it with exit code 0; then the
# family 10h picture.
source "$(dirname "$0")/lib.bash"
start_wine

app=$(make_app_dir dll)
cfg=$app/quilm.cfg
sim_state=$WORK/state.txt
# The state file by its Windows name: Wine's drive Z: is the root directory.
export QUILM_SIM=fam15h QUILM_SIM_STATE="Z:${sim_state//\//\\}"
start_quilm "$app"

# quilm's first guess at the frame is 6x25; the prefix's caption makes the real one larger, so
# a window that kept its guess would be 550x425 and its client area too small.
expect_picture "$(wait_window '^QUILM \(manual\)$')" main_window_fam15h
[ "$FRAME" != 550x425 ] || fail "the window kept the size of its first guess at the frame"
grep -q 'simulated processor fam15h' "$WORK/stderr" || fail "stderr does not say that the processor is simulated"

# Drag P-State 3's multiplier slider 6 pixels left and apply: definition register 3 changes on
# all four processors alike, in its frequency ID only (bits 5..0, lower), and nothing else does.
before=$(state "$sim_state")
old=$(sim_register "$sim_state" 0 C0010067)
activate
drag 318 200 312 200
click 468 376
sleep 0.3
no_window '^warning$' || fail "apply settings was not accepted"
new=$(sim_register "$sim_state" 0 C0010067)
((((0x$new ^ 0x$old) & ~0x3F) == 0 && (0x$new & 0x3F) < (0x$old & 0x3F))) ||
    fail "register 3 did not just lower its frequency ID: $old -> $new"
[ "$(state "$sim_state")" = "${before// C0010067 $old/ C0010067 $new}" ] ||
    fail "more registers changed: $(diff <(echo "$before") <(state "$sim_state") | tr '\n' ' ')"

# AUTO: the governor shows its P-state in the title; MANUAL waits for it and shows "manual".
# Two clicks in a row switch auto mode off while the new governor is just starting: each time
# the governor ends, the title says "manual", and the window still answers.
click 94 376
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
click 94 376
wait_window '^QUILM \(manual\)$' >/dev/null
for _ in 1 2 3 4 5 6 7 8; do xdotool click --repeat 2 --delay 5 1 sleep 0.1; done
wait_window '^QUILM \(manual\)$' >/dev/null
click 94 376
wait_window '^QUILM \([0-7] auto\)$' >/dev/null

# "save" writes quilm.cfg beside quilm.exe, its byte 96 saying that auto mode was on. A link
# planted at that name is replaced, and the file it points to stays as it was.
echo "not a settings file" >"$WORK/victim"
ln -s "$WORK/victim" "$cfg"
click 456 20
answer_box success
[ "$(cat "$WORK/victim")" = "not a settings file" ] || fail "save wrote through the link at quilm.cfg"
[ -f "$cfg" ] && [ ! -L "$cfg" ] || fail "save left no plain quilm.cfg beside quilm.exe"
[ "$(od -An -tu1 -j96 -N1 "$cfg" | tr -d ' ')" = 1 ] || fail "quilm.cfg does not say that auto mode was on"
ls "$app" | grep -q '\.tmp$' && fail "save left its temporary file behind"
# Escape ends the program, governor and all.
activate
keys Escape
expect_exit_0 "Escape in auto mode"

# "load" with another word after it is a usage error: exit 2, no window, nothing written.
cp "$sim_state" "$WORK/before"
set +e; wine "$app/quilm.exe" load --dry-run >/dev/null 2>"$WORK/stderr"; code=$?; set -e
[ "$code" = 2 ] || fail "load --dry-run exits $code, not 2"
cmp -s "$sim_state" "$WORK/before" || fail "load --dry-run wrote"

# "load" as the first word, the program's quoted name holding a blank: the file is loaded and
# applied, and auto mode comes back by itself.
# The file is read-only, for root too (no write permission, and immutable where the file system
# allows it): reading it must not ask for write access as well. The "exit" button ends the
# program at once, governor running or not.
chmod 444 "$cfg"
[ "$(id -u)" != 0 ] || ! chattr +i "$cfg" 2>/dev/null || IMMUTABLE=$cfg
start_quilm "$app" load
wait_drawn "$(wait_window '^QUILM \(')"
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
no_window '^error!\?$' || fail "loading a read-only quilm.cfg failed"
click 333 376
expect_exit_0 "exit button"

# A file of 50 bytes is refused with the "error!?" box; auto mode stays off and nothing is
# applied: the window shows the registers of the profile as shipped. Alt+F4 closes the window as
# the system menu's Close does.
chattr -i "$cfg" 2>/dev/null || true
chmod 644 "$cfg"
head -c 50 /dev/zero >"$cfg"
QUILM_SIM_STATE="" start_quilm "$app" load
answer_box 'error!\?'
sleep 0.5
expect_picture "$(wait_window '^QUILM \(manual\)$')" main_window_fam15h
activate
keys alt+F4
expect_exit_0 "Alt+F4"

# The older register layout, with its northbridge voltage sliders, looks as on Linux as well.
export QUILM_SIM=fam10h QUILM_SIM_STATE=
start_quilm "$app"
expect_picture "$(wait_window '^QUILM \(manual\)$')" main_window_fam10h
activate
keys Escape
expect_exit_0 "fam10h: Escape"
echo PASS
