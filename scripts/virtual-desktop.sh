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

# KELVANE_KEEP_LOGS=DIR keeps the session's logs there, in place of the
# last session's.
vd_cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    wait 2>/dev/null || true
    if [ -n "${KELVANE_KEEP_LOGS:-}" ]; then
        mkdir -p "$KELVANE_KEEP_LOGS"
        rm -f "$KELVANE_KEEP_LOGS"/*.log
        cp "$work"/*.log "$KELVANE_KEEP_LOGS/" 2>/dev/null || true
    fi
    rm -rf "$work"
}

# Starts an X server (Xvfb, or Xephyr inside the current display) with the
# given options on a display it picks itself among the free ones
# (-displayfd), so runs side by side never meet; exports DISPLAY once it
# answers and leaves its process id in server_pid.
# -noreset: by default an X server resets when its last client leaves, and
# the first clients that connect while it does so are refused. Here that
# last client is the check below that the server answers, so the window
# manager and panel started right after it failed about one start in a
# hundred on a busy machine; a desktop's server always has a client and
# never resets under its session.
vd_start_server() {
    local server=$1 fifo="$work/displayfd" n=""
    shift
    mkfifo "$fifo"
    "$server" -displayfd 3 -nolisten tcp -noreset "$@" 3>"$fifo" >"$work/${server,,}.log" 2>&1 &
    server_pid=$!
    pids+=($server_pid)
    read -r -t 20 n <"$fifo" || true
    rm -f "$fifo"
    if [ -z "$n" ]; then
        echo "$server did not start" >&2
        return 1
    fi
    export DISPLAY=":$n"
    for _ in $(seq 100); do
        xdpyinfo >/dev/null 2>&1 && return 0
        sleep 0.1
    done
    echo "$server did not answer on $DISPLAY" >&2
    return 1
}

# Xvfb with a WIDTHxHEIGHT screen; its process id is left in xvfb_pid.
vd_start_display() {
    vd_start_server Xvfb -screen 0 "${1}x24"
    local status=$?
    xvfb_pid=$server_pid
    return $status
}

# Starts trayer as the notification area at the bottom-right corner, as wide
# as its icons ask, or WIDTH pixels wide whatever it holds; its process id is
# left in tray_pid.
vd_start_tray() {
    local width=(--widthtype request)
    [ -n "${1:-}" ] && width=(--widthtype pixel --width "$1")
    trayer --edge bottom --align right "${width[@]}" --height 24 --SetDockType true \
        >"$work/trayer.log" 2>&1 &
    tray_pid=$!
    pids+=($tray_pid)
}

# Starts a private session bus and exports its address.
vd_start_session_bus() {
    dbus-daemon --session --fork --print-address=3 --print-pid=4 3>"$work/bus" 4>"$work/bus.pid"
    export DBUS_SESSION_BUS_ADDRESS=$(cat "$work/bus")
    pids+=($(cat "$work/bus.pid"))
}
