#!/usr/bin/env bash
# Drives the real program on a virtual X display with an XEmbed tray host:
# clicks with xdotool, reads windows back with xwininfo. Starts and stops its
# own servers.
set -u

KELVANE=${1:?usage: run-desktop-tests.sh path/to/kelvane}

for tool in Xvfb trayer xdotool xwininfo xdpyinfo; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool: run scripts/install-deps" >&2
        exit 1
    fi
done

source "$(dirname "$0")/../../scripts/virtual-desktop.sh"
vd_session
vd_start_display 960x720 || exit 1

source "$(dirname "$0")/lib.sh"

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

summary
