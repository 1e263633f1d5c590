#!/usr/bin/env bash
# quilm watch on the simulated processor: JSON samples whose clocks follow the P-state and the
# load, the table, its exit codes and Ctrl-C, and a --textfile that node_exporter's textfile
# collector serves without a scrape error.
source "$(dirname "$0")/lib.bash"

# Three samples of the simulator; every processor's MHz within 2 % of the expected (null: idle),
# its busy share within 5 points of the load.
expect_samples() {
    QUILM_SIM=$1 "$QUILM" watch --json --count 3 --interval 0.2 >"$WORK/out" 2>/dev/null ||
        fail "$1: quilm watch exits $?"
    python3 - "$WORK/out" "$2" "$3" <<'EOF' || fail "$1: $(cat "$WORK/out")"
import json, sys
samples = [json.loads(line) for line in open(sys.argv[1])]
assert len(samples) == 3, len(samples)
mhz, busy = (None if sys.argv[2] == "null" else float(sys.argv[2])), float(sys.argv[3])
for s in samples:
    assert s["processors"] and s["package"]["celsius"] == 45, s["package"]
    for p in s["processors"]:
        assert (p["mhz"] is None) if mhz is None else abs(p["mhz"] - mhz) <= 0.02 * mhz, p
        assert abs(p["busy"] - busy) <= 5, p
EOF
}
expect_samples fam19h,load=100 3600 100
expect_samples fam19h,load=100,current=2 1600 100
expect_samples fam19h,load=0 null 0

expect_exit 0 env QUILM_SIM=fam10h,current=1 "$QUILM" watch --count 1 --interval 0.1
grep -q '^        3  P1          2300   50.0 %      2300.00    1.32500$' "$WORK/out" || fail "table: $(cat "$WORK/out")"
grep -q '^package  45.0 °C  - W$' "$WORK/out" || fail "package line: $(cat "$WORK/out")"

for bad in "--interval 0" "--interval x" "--count 0" "--count -1" "--count" "--yaml"; do
    # shellcheck disable=SC2086
    expect_exit 2 env QUILM_SIM=fam10h "$QUILM" watch $bad
done
expect_exit 3 env QUILM_SIM=fam10h,init=fail "$QUILM" watch --count 1
expect_exit 3 env QUILM_SIM=fam10h "$QUILM" watch --count 1 --interval 0.1 --textfile "$WORK/missing/quilm.prom"

# Ctrl-C ends an endless watch with exit 0.
QUILM_SIM=fam17h "$QUILM" watch --interval 0.1 >"$WORK/out" 2>/dev/null &
pid=$!
sleep 0.5
kill -INT "$pid"
wait_exit "$pid"
[ "$EXIT_CODE" = 0 ] || fail "Ctrl-C: exit $EXIT_CODE"
grep -q '^package' "$WORK/out" || fail "Ctrl-C: no sample before it"

# The textfile collector serves the metrics of a --textfile run.
mkdir "$WORK/prom"
QUILM_SIM=fam19h "$QUILM" watch --count 2 --interval 0.2 --textfile "$WORK/prom/quilm.prom" >/dev/null 2>&1 ||
    fail "--textfile exits $?"
[ "$(ls "$WORK/prom")" = quilm.prom ] || fail "textfile folder holds $(ls "$WORK/prom")"
port=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
prometheus-node-exporter --web.listen-address="127.0.0.1:$port" --collector.disable-defaults \
    --collector.textfile --collector.textfile.directory="$WORK/prom" >"$WORK/exporter.log" 2>&1 &
exporter=$!
trap 'kill $exporter 2>/dev/null || true; cleanup' EXIT
for _ in $(seq 100); do
    curl -sf "http://127.0.0.1:$port/metrics" >"$WORK/metrics" 2>/dev/null && break
    sleep 0.1
done
grep -q '^node_textfile_scrape_error 0$' "$WORK/metrics" || fail "scrape error: $(grep textfile "$WORK/metrics")"
for metric in 'quilm_cpu_mhz{cpu="15"} 3[56][0-9][0-9]' 'quilm_cpu_busy_ratio{cpu="0"} 0.5' \
              'quilm_cpu_pstate{cpu="3"} 0' 'quilm_package_celsius 45' 'quilm_package_watts [0-9.e+]*'; do
    grep -q "^$metric\$" "$WORK/metrics" || fail "node_exporter lacks $metric: $(grep quilm_ "$WORK/metrics")"
done
echo "quilm watch: samples follow P-state and load, exit codes, Ctrl-C, node_exporter serves the textfile"
