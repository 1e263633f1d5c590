#!/usr/bin/env bash
# Stands in for stress-ng in the tests of quilm test (QUILM_STRESS). It reads the processor
# from --taskset and does what the test asks for that processor: STANDIN_FAIL fails the
# verification, STANDIN_HANG never ends (and ignores Ctrl-C), STANDIN_MCE logs a machine-check
# error to QUILM_KMSG. Every run appends "P<processor> <method> <control registers>" (from the
# simulator's state file) and its process id to STANDIN_LOG; it lasts STANDIN_SLEEP seconds.
set -u
p="" yaml="" method=""
while [ $# -gt 0 ]; do
    case $1 in
    --taskset) p=$2; shift ;;
    --yaml) yaml=$2; shift ;;
    --cpu-method) method=$2; shift ;;
    esac
    shift
done
named() { [[ " ${1:-} " == *" $p "* ]]; }
if [ -n "${STANDIN_LOG:-}" ]; then
    controls=$(awk '$2 == "C0010062" {v = $3; sub(/^0+/, "", v); printf "%s ", v == "" ? 0 : v}' "${QUILM_SIM_STATE:-/dev/null}")
    echo "P$p $method ${controls% } pid $$" >>"$STANDIN_LOG"
fi
if named "${STANDIN_MCE:-}"; then
    echo "3,812,4242,-;mce: [Hardware Error]: CPU $p: Machine Check: 0 Bank 5: bea0000000000108" >>"$QUILM_KMSG"
fi
if named "${STANDIN_HANG:-}"; then
    trap '' INT
    sleep 1000
fi
sleep "${STANDIN_SLEEP:-0.1}"
if named "${STANDIN_FAIL:-}"; then
    echo "stress-ng: fail:  [$$] cpu: prime error detected, number of primes has been miscalculated" >&2
    exit 2
fi
printf -- '---\nmetrics:\n    - stressor: cpu\n      bogo-ops: 1234\n' >"$yaml"
