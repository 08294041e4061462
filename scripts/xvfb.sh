# Sourced (through wine-env.sh) by scripts that show windows: starts a private Xvfb display
# unless one is given.
qelt_xvfb_start() {
    if [ -n "${QELT_DISPLAY:-}" ]; then
        export DISPLAY=$QELT_DISPLAY
        return 0
    fi
    local n
    for n in $(seq 90 130); do
        [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ] && continue
        Xvfb ":$n" -screen 0 1280x1024x24 -nolisten tcp >/dev/null 2>&1 &
        QELT_XVFB_PID=$!
        export DISPLAY=":$n"
        for _ in $(seq 50); do
            [ -e "/tmp/.X11-unix/X$n" ] && return 0
            sleep 0.1
        done
        kill "$QELT_XVFB_PID" 2>/dev/null
    done
    echo "Could not start Xvfb" >&2
    return 1
}

qelt_xvfb_stop() {
    [ -n "${QELT_XVFB_PID:-}" ] && kill "$QELT_XVFB_PID" 2>/dev/null
    QELT_XVFB_PID=""
}
