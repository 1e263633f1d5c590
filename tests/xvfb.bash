# Starts a private Xvfb on a display that Xvfb itself finds free (so that tests run side by side
# never share one), with a screen of $2 (default 1024x768x24); exports DISPLAY and sets XVFB_PID.
# $1, the display to search from, is kept for callers; Xvfb chooses. The caller provides WORK
# (a scratch folder) and fail.
start_xvfb() {
    local screen=${2:-1024x768x24} number="$WORK/xvfb.display"
    : >"$number"
    Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp 3>"$number" >"$WORK/xvfb.log" 2>&1 &
    XVFB_PID=$!
    for _ in $(seq 100); do
        if [ -s "$number" ]; then
            export DISPLAY=":$(head -n 1 "$number")"
            xdpyinfo >/dev/null 2>&1 && return 0
        fi
        kill -0 "$XVFB_PID" 2>/dev/null || break
        sleep 0.1
    done
    fail "could not start Xvfb: $(cat "$WORK/xvfb.log")"
}
