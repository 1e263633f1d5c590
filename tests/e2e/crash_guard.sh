#!/usr/bin/env bash
# The crash guard as the unit and a person meet it, with the real program on the simulated
# processor: the boot's apply, a crash (the next boot finds the apply unconfirmed) left alone with
# exit 4 and one line that says why, `quilm check`'s guard line, the window's box at start, and
# rearm. QUILM_GUARD_SHOT=FILE keeps a picture of the box.
source "$(dirname "$0")/lib.bash"
start_xvfb
cp "$QUILM" "$WORK/quilm"
cd "$WORK"
export QUILM_SIM=fam19h QUILM_SIM_STATE=$WORK/registers QUILM_STATE_DIR=$WORK/guard QUILM_SYSTEM_ROOT=$WORK/root
mkdir -p root/proc/sys/kernel/random
echo "BOOT_IMAGE=/vmlinuz ro quiet" >root/proc/cmdline
# A boot: a new identity, and the firmware's registers.
boot() {
    echo "$1-0000-4000-8000-000000000000" >root/proc/sys/kernel/random/boot_id
    rm -f registers
}
expect_exit() {
    local want=$1; shift
    set +e; "$@" >out 2>err; local got=$?; set -e
    [ "$got" = "$want" ] || fail "$* exits $got, not $want: $(cat err)"
}

boot b1
expect_exit 0 ./quilm list
sed -i 's/^\([0-9]*\) C0010066 800000004C960C60$/\1 C0010066 800000004C950C60/' registers
expect_exit 0 ./quilm save
boot b1
expect_exit 0 ./quilm apply --unattended
[ "$(grep -c ' C0010066 800000004C950C60$' registers)" = 16 ] || fail "the boot's apply did not write P2"
grep -q '^boot b1-' guard/pending || fail "no pending record: $(cat guard/pending)"

boot b2 # the machine crashed before the confirm
expect_exit 4 ./quilm apply --unattended
[ "$(wc -l <err)" = 1 ] && grep -Eq "^quilm: not applied: the settings applied at boot [0-9-]+ [0-9:]+ did not \
survive 2 minutes; run 'quilm rearm' to try them again, or save other settings$" err || fail "skip said: $(cat err)"
[ ! -e registers ] || fail "the guarded boot opened the processor"
expect_exit 3 ./quilm check
grep -q "^no  crash guard         quarantined since " out || fail "check said: $(cat out)"

./quilm 2>/dev/null &
pid=$!
box=$(wait_window '^quilm$')
[ -z "${QUILM_GUARD_SHOT:-}" ] || import -window root "$QUILM_GUARD_SHOT"
send_keys "$box" Return
close_window "$(wait_window '^QUILM \(manual\)$')"
ends_with_0 "the window after the guard's box"

expect_exit 0 ./quilm rearm
expect_exit 0 ./quilm check
grep -q "^ok  crash guard         armed" out || fail "check after rearm said: $(cat out)"
boot b3
expect_exit 0 ./quilm apply --unattended
[ "$(grep -c ' C0010066 800000004C950C60$' registers)" = 16 ] || fail "rearmed settings not applied"
echo PASS
