#!/usr/bin/env bash
# quilm test on the simulated processor with a stand-in for stress-ng: which processor fails
# and why, the held P-state put back (also after Ctrl-C), a hung load stopped, the exit codes;
# then a short run of the real stress-ng.
source "$(dirname "$0")/lib.bash"
QUILM_STRESS=$(cd "$(dirname "$0")" && pwd)/stress_standin.bash
export QUILM_STRESS QUILM_SIM=fam10h,current=2 QUILM_SIM_STATE=$WORK/state QUILM_KMSG=$WORK/kmsg STANDIN_LOG=$WORK/runs
cd "$WORK"
echo "3,800,100,-;mce: [Hardware Error]: logged before the test" >kmsg
quilm_test() { expect_exit "$1" "$QUILM" test --seconds 1 "${@:2}"; }
results() { sed -n 's/^\(P[0-9]*\) *\(passed\|FAILED\|not proven\).*/\1 \2/p' out | tr '\n' ' '; }

quilm_test 0 --processors 0-3
[ "$(results)" = "P0 passed P1 passed P2 passed P3 passed " ] || fail "all passing: $(cat out)"
grep -qx "4 processors: 4 passed, 0 failed, 0 not proven" out || fail "summary: $(cat out)"

STANDIN_FAIL=3 quilm_test 1 --processors 0-3
[ "$(results)" = "P0 passed P1 passed P2 passed P3 FAILED " ] || fail "failure on P3: $(cat out)"
grep -q "^P3  FAILED  after 0 s  P-state 2 as read: verification failed in int64double: cpu: prime error" out ||
    fail "P3's evidence: $(cat out)"

STANDIN_MCE=2 quilm_test 1 --processors 0-3 --json
python3 - out <<'PY' || fail "machine check in P2's run: $(cat out)"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["passed"] is False
assert [(p["processor"], p["result"]) for p in r["processors"]] == [(0, "passed"), (1, "passed"), (2, "failed"), (3, "passed")]
assert r["processors"][2]["evidence"].startswith("machine-check error in the kernel log: mce: [Hardware Error]: CPU 2")
assert r["processors"][0]["evidence"] is None and r["processors"][0]["pstate"] is None
PY

# A load that never ends (and ignores Ctrl-C) is stopped 5 s after its time, with all it started.
: >runs
STANDIN_HANG=1 quilm_test 1 --processors 1
grep -q "^P1  FAILED  after [5-9] s.*: did not finish: int64double still running 5 s after its 1 s" out ||
    fail "hung load: $(cat out)"
! kill -0 "$(awk '{print $NF}' runs)" 2>/dev/null || fail "the hung stand-in still runs"

# --pstate 1 holds software P-state 1 on every processor during every run, then puts back 2.
rm -f state && "$QUILM" list >/dev/null 2>&1 && cp state before
: >runs
quilm_test 0 --processors 0,2 --pstate 1
[ "$(cut -d' ' -f1-6 runs | sort -u)" = "P0 int64double 1 1 1 1
P2 int64double 1 1 1 1" ] || fail "P-state 1 not held on every processor: $(cat runs)"
grep -q "^P2  passed  0 s  P-state 1$" out || fail "held P-state: $(cat out)"
cmp -s state before || fail "P-state not put back: $(diff before state)"

# A processor that does not stay in the held P-state proves nothing about it.
expect_exit 1 env QUILM_SIM=fam10h,current=2,follow=0 QUILM_SIM_STATE= "$QUILM" test --seconds 1 --pstate 1 --processors 1
grep -q "^P1  not proven  0 s  P-state 1: left P-state 1 (read P-state 2 after 0 s): an OS frequency driver" out ||
    fail "P-state left: $(cat out)"

# Ctrl-C during a run stops the load, puts the P-state back and exits 130; meanwhile a second
# test is refused.
: >runs
STANDIN_SLEEP=30 "$QUILM" test --seconds 1 --pstate 1 >out 2>err &
pid=$!
for _ in $(seq 100); do [ -s runs ] && break; sleep 0.1; done
[ -s runs ] || fail "the stand-in never started"
quilm_test 3 --processors 0
grep -q "another stability test is running" err || fail "second test: $(cat err)"
kill -INT "$pid"
wait_exit "$pid"
[ "$EXIT_CODE" = 130 ] || fail "Ctrl-C: exit code $EXIT_CODE"
cmp -s state before || fail "P-state not put back after Ctrl-C: $(diff before state)"
! kill -0 "$(awk '{print $NF}' runs)" 2>/dev/null || fail "the stand-in still runs after Ctrl-C"

expect_exit 3 env QUILM_STRESS= PATH="$WORK" "$QUILM" test
grep -q 'stress-ng is not installed: install it with "apt install stress-ng"' err || fail "hint: $(cat err)"
expect_exit 3 env QUILM_STRESS="$WORK/none" "$QUILM" test
for bad in "--seconds 0" "--processors 0-4" "--processors 2-1" "--pstate 4" "--pstate" "--yaml"; do
    expect_exit 2 "$QUILM" test $bad
done

# The real stress-ng on this machine's first two processors.
command -v stress-ng >/dev/null || fail "stress-ng is not installed (tools/deps installs it)"
expect_exit 0 env QUILM_STRESS= QUILM_SIM=fam19h QUILM_SIM_STATE= "$QUILM" test --seconds 2 --processors 0-1 --json
python3 - out <<'PY' || fail "real stress-ng: $(cat out)"
import json, sys
r = json.load(open(sys.argv[1]))
assert r["passed"] is True
assert [(p["processor"], p["result"]) for p in r["processors"]] == [(0, "passed"), (1, "passed")]
assert all(2 <= p["seconds"] < 10 for p in r["processors"])
PY
echo "quilm test: failures named per processor, P-state held and put back, hangs and Ctrl-C stopped"
