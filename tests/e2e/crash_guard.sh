#!/usr/bin/env bash
# The crash guard with the real program, as the unit and a person meet it: a boot's apply, the
# next boot (the apply never confirmed) left alone with exit 4 and one line saying why, the
# window's box at start, and rearm. QUILM_GUARD_SHOT=FILE keeps a picture of the box.
source "$(dirname "$0")/lib.bash"
start_xvfb
cp "$QUILM" "$WORK/quilm"
cd "$WORK"
export QUILM_SIM=fam19h QUILM_SIM_STATE=$WORK/registers QUILM_STATE_DIR=$WORK/guard QUILM_SYSTEM_ROOT=$WORK/root
mkdir -p root/proc/sys/kernel/random
echo "BOOT_IMAGE=/vmlinuz ro quiet" >root/proc/cmdline
boot() { echo "$1-0000-4000-8000-000000000000" >root/proc/sys/kernel/random/boot_id; }
tuned() { [ "$(grep -c ' C0010066 800000004C950C60$' registers)" = 16 ]; }

boot b1
./quilm list >/dev/null 2>&1
sed -i 's/^\([0-9]*\) C0010066 800000004C960C60$/\1 C0010066 800000004C950C60/' registers
./quilm save 2>/dev/null && rm registers
./quilm apply --unattended >/dev/null 2>&1 && tuned || fail "the boot's apply did not write P2"
boot b2 && rm registers
set +e; ./quilm apply --unattended 2>err; code=$?; set -e
[ "$code" = 4 ] && [ "$(wc -l <err)" = 1 ] && grep -Eq "^quilm: not applied: the settings applied at boot \
[0-9-]+ [0-9:]+ did not survive 2 minutes; run 'quilm rearm' to try them again, or save other settings$" err ||
    fail "the second boot exits $code and says: $(cat err)"

./quilm 2>/dev/null &
pid=$!
box=$(wait_window '^quilm$')
[ -z "${QUILM_GUARD_SHOT:-}" ] || import -window root "$QUILM_GUARD_SHOT"
send_keys "$box" Return
close_window "$(wait_window '^QUILM \(manual\)$')"
ends_with_0 "the window after the guard's box"

./quilm rearm >/dev/null && boot b3
./quilm apply --unattended >/dev/null 2>&1 && tuned || fail "the rearmed settings were not applied"
echo PASS
