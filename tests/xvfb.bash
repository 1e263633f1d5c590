# Starts a private Xvfb on the first free display from $1 on, with a screen of $2
# (default 1024x768x24), exports DISPLAY and sets XVFB_PID. The caller provides WORK
# (a scratch folder) and fail.
start_xvfb() {
    local n first=${1:-90} screen=${2:-1024x768x24}
    for n in $(seq "$first" $((first + 40))); do
        [ -e /tmp/.X11-unix/X$n ] || [ -e /tmp/.X$n-lock ] && continue
        Xvfb ":$n" -screen 0 "$screen" -nolisten tcp >"$WORK/xvfb.log" 2>&1 &
        XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            xdpyinfo >/dev/null 2>&1 && return 0
            kill -0 "$XVFB_PID" 2>/dev/null || break
            sleep 0.1
        done
    done
    fail "could not start Xvfb"
}
