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
vd_start_display 140 960x720 || exit 1

# Polls a shell condition for up to $1 seconds.
wait_for() {
    local limit=$1
    shift
    local end=$((SECONDS + limit))
    until "$@"; do
        [ $SECONDS -ge $end ] && return 1
        sleep 0.1
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

start_tray

"$KELVANE" >"$work/kelvane.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)

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

click_popup 1447 967
wait_for 5 popup_hidden
"$KELVANE" >"$work/second.log" 2>&1
second=$?
check "a second start exits 0" test "$second" = 0
check "a second start brings the first one's popup back" wait_for 5 popup_at 608
check "only one Kelvane is running" test "$(pgrep -c -f "^$KELVANE\$")" = 1

click_popup 2287 967 # Quitter
check "Quitter ends the program with status 0" wait_for 5 bash -c "! kill -0 $kelvane_pid 2>/dev/null"
wait "$kelvane_pid"
status=$?
check "the exit status is 0" test "$status" = 0
check "Quitter undocks the icon" wait_for 5 bash -c "! xwininfo -root -tree | grep -q '\"Kelvane\"'"

if [ "$failed" -ne 0 ]; then
    echo "--- kelvane's output:"
    tail -n 60 "$work/kelvane.log"
fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
