# Sourced by the scripts that run Kelvane on a virtual X display with a
# notification area: make run without a display, the desktop tests, the
# benchmarks and the soak run.

# A private session: its own runtime folder (so it never meets a Kelvane the
# user runs), X11 through xcb, and no D-Bus, so that Qt docks its icon in the
# XEmbed tray. Everything started is stopped, and the folder removed, on exit.
vd_session() {
    work=$(mktemp -d)
    mkdir -m 700 "$work/run"
    export XDG_RUNTIME_DIR="$work/run"
    export QT_QPA_PLATFORM=xcb
    unset DBUS_SESSION_BUS_ADDRESS WAYLAND_DISPLAY QT_QPA_PLATFORMTHEME
    pids=()
    trap vd_cleanup EXIT
}

vd_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    rm -rf "$work"
}

# Starts Xvfb with a WIDTHxHEIGHT screen on the first free display from FIRST
# on (callers use different ranges so they can run side by side), exports
# DISPLAY and waits until the server answers.
vd_start_display() {
    local first=$1 size=$2 n
    for n in $(seq "$first" $((first + 39))); do
        if [ ! -e "/tmp/.X$n-lock" ] && [ ! -e "/tmp/.X11-unix/X$n" ]; then
            export DISPLAY=":$n"
            Xvfb "$DISPLAY" -screen 0 "${size}x24" -nolisten tcp >"$work/xvfb.log" 2>&1 &
            pids+=($!)
            for _ in $(seq 100); do
                xdpyinfo >/dev/null 2>&1 && return 0
                sleep 0.1
            done
            echo "Xvfb did not start on $DISPLAY" >&2
            return 1
        fi
    done
    echo "no free X display" >&2
    return 1
}

# Starts trayer as the notification area at the bottom-right corner; its
# process id is left in tray_pid.
vd_start_tray() {
    trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
        >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=($tray_pid)
}
