#!/usr/bin/env bash
# quilm apply, save and check without a window, on the simulated processor: a "resume" puts
# the profile's registers back and apply restores the saved ones on every processor,
# --dry-run writes nothing, and every exit code is reached.
source "$(dirname "$0")/lib.bash"
cd "$WORK"
export QUILM_SIM=fam19h QUILM_SIM_STATE=$WORK/state
expect_exit 0 "$QUILM" save plain.cfg
cp state before
expect_exit 0 "$QUILM" apply plain.cfg -v
[ ! -s out ] || fail "applying the processor's own table wrote: $(cat out)"
cmp -s state before || fail "applying the processor's own table changed registers"

# A tuned P2 on every processor, saved; then the firmware's values come back.
sed -i 's/^\([0-9]*\) C0010066 800000004C960C60$/\1 C0010066 800000004C950C60/' state
expect_exit 0 "$QUILM" save tuned.cfg
rm state
expect_exit 0 "$QUILM" list
cp state reset
expect_exit 0 "$QUILM" apply tuned.cfg --dry-run
grep -qx 'P2 C0010066: 800000004C960C60 -> 800000004C950C60' out || fail "dry run printed: $(cat out)"
cmp -s state reset || fail "--dry-run changed the state file"
expect_exit 0 "$QUILM" apply tuned.cfg -v
grep -qx 'P2 C0010066: 800000004C960C60 -> 800000004C950C60' out || fail "apply -v printed: $(cat out)"
[ "$(grep -c '^[0-9]* C0010066 800000004C950C60$' state)" = 16 ] || fail "not every processor holds the saved P2"
[ "$(grep -v C0010066 state)" = "$(grep -v C0010066 reset)" ] || fail "apply changed other registers"

# Automatic mode in the file: said once, no governor, still applied.
cp tuned.cfg auto.cfg && printf '\001' | dd of=auto.cfg bs=1 seek=96 conv=notrunc status=none
expect_exit 0 "$QUILM" apply auto.cfg
[ "$(grep -c 'does not start the governor' err)" = 1 ] || fail "automatic mode not told once: $(cat err)"

expect_exit 1 env QUILM_SIM=fam17h-m90 QUILM_SIM_STATE= "$QUILM" apply tuned.cfg
grep -q "quilm: unsupported p-state layout" err || fail "refused layout not told: $(cat err)"
expect_exit 1 env QUILM_SIM=fam10h QUILM_SIM_STATE= "$QUILM" apply tuned.cfg
grep -q "saved for another register layout: nothing written" err || fail "a file of another layout not refused: $(cat err)"
expect_exit 1 env QUILM_SIM=fam19h,reject=2 QUILM_SIM_STATE= "$QUILM" apply tuned.cfg
grep -q "quilm: not all settings accepted" err || fail "a refused row not told: $(cat err)"
cp state before
expect_exit 2 "$QUILM" load --dry-run
cmp -s state before || fail "load --dry-run wrote"
expect_exit 2 "$QUILM" loading
expect_exit 2 "$QUILM" apply --force
expect_exit 2 "$QUILM" apply one.cfg two.cfg
expect_exit 3 "$QUILM" apply missing.cfg
grep -q "missing.cfg" err || fail "the missing file is not named: $(cat err)"
expect_exit 3 "$QUILM" apply "$WORK"                      # opens, but cannot be read: not "too short"
grep -q "cannot read the settings file" err || fail "a failed read taken as the file's end: $(cat err)"
head -c 50 tuned.cfg >short.cfg
expect_exit 3 "$QUILM" apply short.cfg
expect_exit 3 env QUILM_SIM=fam19h,init=fail "$QUILM" apply tuned.cfg
expect_exit 3 "$QUILM" save /nonexistent/dir/quilm.cfg
expect_exit 0 "$QUILM" check
grep -q "^ok  p-state layout .*zen-svi2, quilm writes it" out || fail "check printed: $(cat out)"
expect_exit 3 env QUILM_SIM=fam17h-m90 "$QUILM" check
echo "apply, save and check: resume restored, dry run wrote nothing, exit codes as documented"
