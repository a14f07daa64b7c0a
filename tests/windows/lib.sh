# Sourced by the Windows checks after tests/desktop/lib.sh: Kelvane's windows
# read back through Win32 by the probe, as another program on the same
# desktop sees them. Needs probe_exe set and a session (work).

# Run from the root, out of the way of any library planted in the current
# folder. Every call, its status and what it said go to probe.log.
probe() {
    local out status
    out=$(cd / && wine "$probe_exe" "$@" 2>>"$work/probe-stderr.log" | tr -d '\r')
    status=${PIPESTATUS[0]}
    printf '%s: %s -> %s\n' "$status" "$*" "$out" >>"$work/probe.log"
    if [ -n "$out" ]; then printf '%s\n' "$out"; fi
}

# grep reads all the probe says: one that stops at the first match (-q) can
# end the probe's output with SIGPIPE, which pipefail takes for a failure.
popup_is() { probe popup | grep "^$1" >/dev/null; }
at() { [ "$(probe popup | cut -d' ' -f2)" = "$1" ]; }
reads() { probe labels | grep -x -e "$1" >/dev/null; }
workarea_is() { [ "$(probe workarea)" = "$1" ]; }

# Clicks a part of the popup (lib.sh's popup_part) where Windows has it.
click_popup() {
    local x y w h v
    read -r x y w h v < <(probe popup) && [ -n "$h" ] || return 1
    click_part "$1" "$x" "$y" "$w" "$h"
}

# Wine docks the icon as a window of its explorer.exe in the panel.
icon_window() {
    local panel
    panel=$(panel_window) || return 1
    xwininfo -tree -id "$panel" | awk '/\("explorer.exe" "explorer.exe"\)/ && !n++ {print $1}' | grep .
}
icon_here() { icon_window >/dev/null; }
