#!/usr/bin/env bash
# The Windows program under Wine on the simulated family 15h processor: a 544x400
# client area showing exactly the picture of the Linux build, a slider drag applied
# to every simulated processor, AUTO and back, "save" beside quilm.exe (replacing a
# link planted there rather than writing through it), and Escape with exit code 0;
# then the family 10h picture.
source "$(dirname "$0")/lib.bash"
start_wine

app=$(make_app_dir dll)
state=$WORK/state.txt
export QUILM_SIM=fam15h QUILM_SIM_STATE
QUILM_SIM_STATE=$(windows_path "$state")
start_quilm "$app"
id=$(wait_window '^QUILM \(manual\)$')

# The client area: the picture must be the golden one at the spot the frame leaves for it.
# quilm's first guess at the frame is 6x25; the prefix's caption makes the real one larger, so
# a window that kept its guess would be 550x425 and its client area too small.
golden=$SOURCE/tests/golden/main_window_fam15h.png
[ -f "$golden" ] || fail "no golden picture $golden (the Linux tests write it)"
wait_picture "$id" "$golden" "$WORK/window.png"
if [ "$DIFFER" != 0 ]; then
    cp "$WORK/window.png" "$BUILD/main_window_fam15h.wine.png"
    cp "$WORK/diff.png" "$BUILD/main_window_fam15h.wine-diff.png" 2>/dev/null || true
    fail "$DIFFER pixels differ from $golden (window $FRAME; see $BUILD/main_window_fam15h.wine.png)"
fi
[ "$FRAME" != 550x425 ] || fail "the window kept the size of its first guess at the frame"
grep -q 'simulated processor fam15h' "$WORK/stderr" || fail "stderr does not say that the processor is simulated"

# Drag P-State 3's multiplier slider 6 pixels left and apply: definition register 3 changes on
# all four processors alike, in its frequency ID only (bits 5..0, lower), and no other changes.
declare -A before
for p in 0 1 2 3; do
    for r in C0010064 C0010065 C0010066 C0010067 C0010068 C0010069 C001006A C001006B; do
        before[$p.$r]=$(sim_register "$state" $p $r)
    done
done
activate
drag 318 200 312 200
click 468 376
sleep 0.3
xdotool search --onlyvisible --name '^warning$' >/dev/null 2>&1 && fail "apply settings was not accepted"
old=${before[0.C0010067]}
new=$(sim_register "$state" 0 C0010067)
[ -n "$new" ] && [ "$new" != "$old" ] || fail "definition register 3 did not change ($old)"
# 16 hexadecimal digits: the high word, then the low word.
[ "${new:0:8}" = "${old:0:8}" ] && (((0x${new:8} & ~0x3F) == (0x${old:8} & ~0x3F))) ||
    fail "register 3 changed beyond its frequency ID: $old -> $new"
(((0x${new:8} & 0x3F) < (0x${old:8} & 0x3F))) || fail "the frequency ID did not go down: $old -> $new"
for p in 0 1 2 3; do
    for r in C0010064 C0010065 C0010066 C0010067 C0010068 C0010069 C001006A C001006B; do
        want=${before[$p.$r]}
        [ $r = C0010067 ] && want=$new
        [ "$(sim_register "$state" $p $r)" = "$want" ] || fail "processor $p register $r: $(sim_register "$state" $p $r), not $want"
    done
done

# AUTO: the governor shows its P-state in the title; MANUAL waits for it and shows "manual".
click 94 376
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
click 94 376
wait_window '^QUILM \(manual\)$' >/dev/null
# Two clicks in a row switch auto mode off while the new governor is just starting: each time
# the governor ends, the title says "manual", and the window still answers.
for _ in 1 2 3 4 5 6 7 8; do
    xdotool click --repeat 2 --delay 5 1
    sleep 0.1
done
wait_window '^QUILM \(manual\)$' >/dev/null
click 94 376
wait_window '^QUILM \([0-7] auto\)$' >/dev/null
click 94 376
wait_window '^QUILM \(manual\)$' >/dev/null

# "save" writes quilm.cfg beside quilm.exe. A link planted at that name is replaced, and the
# file it points to stays as it was.
echo "not a settings file" >"$WORK/victim"
ln -s "$WORK/victim" "$app/quilm.cfg"
click 456 20
answer_box success
[ "$(cat "$WORK/victim")" = "not a settings file" ] || fail "save wrote through the link at quilm.cfg"
[ -f "$app/quilm.cfg" ] && [ ! -L "$app/quilm.cfg" ] || fail "save left no plain quilm.cfg beside quilm.exe"
size=$(stat -c %s "$app/quilm.cfg")
[ "$size" -ge 97 ] || fail "quilm.cfg holds $size bytes, fewer than 97"
[ "$(od -An -tu1 -j96 -N1 "$app/quilm.cfg" | tr -d ' ')" = 0 ] || fail "quilm.cfg says auto mode was on"
ls "$app" | grep -q '\.tmp$' && fail "save left its temporary file behind"

# Escape closes the window; the process ends with exit code 0.
activate
keys Escape
expect_exit_0 "Escape"

# The older register layout, with its northbridge voltage sliders, looks as on Linux as well.
export QUILM_SIM=fam10h QUILM_SIM_STATE=
start_quilm "$app"
id=$(wait_window '^QUILM \(manual\)$')
wait_picture "$id" "$SOURCE/tests/golden/main_window_fam10h.png" "$WORK/window.png"
[ "$DIFFER" = 0 ] || fail "fam10h: $DIFFER pixels differ from main_window_fam10h.png"
activate
keys Escape
expect_exit_0 "fam10h: Escape"
echo PASS
