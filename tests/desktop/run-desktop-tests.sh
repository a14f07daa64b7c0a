#!/usr/bin/env bash
# Drives the real program on a virtual X display with an XEmbed tray host:
# clicks with xdotool, reads windows back with xwininfo. Starts and stops its
# own servers.
set -u

KELVANE=${1:?usage: run-desktop-tests.sh path/to/kelvane}
passed=0
failed=0

for tool in Xvfb trayer xdotool xwininfo xdpyinfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool: run scripts/install-deps" >&2
        exit 1
    fi
done

source "$(dirname "$0")/../../scripts/virtual-desktop.sh"
vd_session
vd_start_display 960x720 || exit 1

# Polls a shell condition for up to $1 seconds (fractions allowed).
now_ms() { local t=${EPOCHREALTIME/./}; echo $((t / 1000)); }
wait_for() {
    local end=$(($(now_ms) + $(awk -v s="$1" 'BEGIN { printf "%d", s * 1000 }')))
    shift
    until "$@"; do
        [ "$(now_ms)" -ge $end ] && return 1
        sleep 0.05
    done
}

check() {
    local name=$1
    shift
    if "$@"; then
        echo "PASS: $name"
        passed=$((passed + 1))
    else
        echo "FAIL: $name"
        failed=$((failed + 1))
    fi
}

start_tray() {
    vd_start_tray
    wait_for 10 panel_window >/dev/null
}

panel_window() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ {print $1; exit}' | grep .; }

icon_docked() {
    local panel
    panel=$(panel_window) || return 1
    xwininfo -tree -id "$panel" | grep -q '"Kelvane"'
}

icon_centre() {
    local panel
    panel=$(panel_window) || return 1
    xwininfo -tree -id "$panel" | awk '/"Kelvane"/ {
        split($NF, a, "+"); split($(NF-1), s, "[x+]"); print a[2] + int(s[1] / 2), a[3] + int(s[2] / 2); exit }'
}

# The popup is the viewable 185 x 81 Kelvane window.
popup_id() {
    xwininfo -root -tree | awk '/"Kelvane": \("kelvane"/ && / 185x81\+/ {print $1; exit}' | grep .
}

popup_y() {
    local id
    id=$(popup_id) || return 1
    xwininfo -id "$id" | awk '/Absolute upper-left Y/ {print $NF}'
}

popup_x() {
    local id
    id=$(popup_id) || return 1
    xwininfo -id "$id" | awk '/Absolute upper-left X/ {print $NF}'
}

popup_at() { [ "$(popup_y)" = "$1" ]; }
popup_hidden() { local y; y=$(popup_y) && [ "$y" -ge 720 ]; }

viewable_kelvane_windows() {
    for id in $(xwininfo -root -children | awk '/"Kelvane": \("kelvane"/ {print $1}'); do
        xwininfo -id "$id" | grep -q 'Map State: IsViewable' && echo "$id"
    done | wc -l
}

# Clicks at a point of the popup given in twips from its corner.
click_popup() {
    local x y
    x=$(( $(popup_x) + $1 / 15 ))
    y=$(( $(popup_y) + $2 / 15 ))
    xdotool mousemove "$x" "$y" click 1
}

icon_gone() { ! xwininfo -root -tree | grep -q '"Kelvane"'; }
no_leftovers() { ! ls "$XDG_RUNTIME_DIR" | grep -q '^kelvane-'; }

# Waits up to $1 seconds for Kelvane to end (killing it after that, so that a
# failure never hangs the run) and leaves its exit status in status.
ended_within() {
    local ended=0
    wait_for "$1" bash -c "! kill -0 $kelvane_pid 2>/dev/null" || ended=1
    [ "$ended" = 1 ] && kill -KILL "$kelvane_pid" 2>/dev/null
    wait "$kelvane_pid"
    status=$?
    return "$ended"
}

# Starts Kelvane with the given environment and waits for its popup and icon.
start_kelvane() {
    local log=$1
    shift
    env "$@" "$KELVANE" >"$log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    wait_for 10 popup_at 609 && wait_for 10 icon_docked
}

start_tray

start_kelvane "$work/kelvane.log"

check "the popup appears at the bottom-right corner" wait_for 10 popup_at 609
check "the popup's left edge touches the screen's right edge" test "$(popup_x)" = 775
check "the icon is docked in the notification area" wait_for 10 icon_docked
check "only the popup is mapped; the tray host stays hidden" test "$(viewable_kelvane_windows)" = 1

click_popup 1447 967 # Masqué
check "Masqué slides the popup off the screen" wait_for 5 popup_hidden

read -r ix iy < <(icon_centre)
xdotool mousemove "$ix" "$iy" click 3
xdotool mouseup 1
sleep 1
check "a right click or a bare release on the icon does nothing" popup_hidden

xdotool mousemove "$ix" "$iy" click 1
check "a left click on the icon brings the popup back" wait_for 5 popup_at 608

kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
start_tray
check "the icon docks again when the notification area restarts" wait_for 10 icon_docked

click_popup 2287 967 # Quitter
check "Quitter ends the program" ended_within 5
check "... with status 0" test "$status" = 0
check "Quitter undocks the icon" wait_for 5 icon_gone
check "Quitter leaves no lock or socket behind" no_leftovers

# A driver that hangs for 8 s on every reading: everything still answers.
start_kelvane "$work/slow.log" FAKENVML_CALL_DELAY_MS=8000
check "a hung driver is reported as not answering" wait_for 5 grep -q "the GPU is not answering" "$work/slow.log"
click_popup 1447 967 # Masqué
check "Masqué hides the popup within a second" wait_for 1 popup_hidden
DISPLAY="$DISPLAY.0" timeout 5 "$KELVANE" >"$work/second.log" 2>&1
second=$?
check "a second start, its display written :N.0, exits 0" test "$second" = 0
check "... and brings the running popup back" wait_for 2 popup_at 608
check "... and leaves one Kelvane running" test "$(pgrep -c -f "^$KELVANE\$")" = 1
click_popup 2287 967 # Quitter
check "Quitter ends the program at once" ended_within 2
check "... with status 0" test "$status" = 0
check "... and removes the icon" wait_for 5 icon_gone

# What a logout or Ctrl+C sends ends Kelvane like Quitter, About dialog and all.
for sig in TERM INT HUP; do
    start_kelvane "$work/$sig.log"
    [ "$sig" = HUP ] && click_popup 547 967 # the credit label opens About
    kill -s "$sig" "$kelvane_pid"
    ended_within 5
    check "SIG$sig ends Kelvane with status 0" test "$status" = 0
    check "SIG$sig removes the icon" wait_for 5 icon_gone
    check "SIG$sig leaves no lock or socket behind" no_leftovers
done

# Last: the X server goes away, as it does at every logout.
start_kelvane "$work/lost.log"
kill "$xvfb_pid"
ended_within 5
check "a lost X server ends Kelvane with status 0 or 1, not a crash" test "$status" -le 1
check "... with one line on stderr" test "$(wc -l <"$work/lost.log")" = 1
check "... and leaves no lock or socket behind" no_leftovers

if [ "$failed" -ne 0 ]; then
    for log in "$work"/*.log; do
        echo "--- $(basename "$log"):"
        tail -n 20 "$log"
    done
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
