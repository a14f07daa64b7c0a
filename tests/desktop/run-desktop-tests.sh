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

click_popup masque
check "Masqué slides the popup off the screen" wait_for 5 popup_hidden

click_icon 3
xdotool mouseup 1
sleep 1
check "a right click or a bare release on the icon does nothing" popup_hidden

click_icon
check "a left click on the icon brings the popup back" wait_for 5 popup_at 608

kill "$tray_pid"
wait "$tray_pid" 2>/dev/null
start_tray
check "the icon docks again when the notification area restarts" wait_for 10 icon_docked

click_popup quitter
check "Quitter ends the program" ended_within 5
check "... with status 0" test "$status" = 0
check "Quitter undocks the icon" wait_for 5 icon_gone
check "Quitter leaves no lock or socket behind" no_leftovers

# A driver that hangs for 8 s on every reading: everything still answers.
start_kelvane "$work/slow.log" FAKENVML_CALL_DELAY_MS=8000
check "a hung driver is reported as not answering" wait_for 5 grep -q "the GPU is not answering" "$work/slow.log"
click_popup masque
check "Masqué hides the popup within a second" wait_for 1 popup_hidden
DISPLAY="$DISPLAY.0" timeout 5 "$KELVANE" >"$work/second.log" 2>&1
second=$?
check "a second start, its display written :N.0, exits 0" test "$second" = 0
check "... and brings the running popup back" wait_for 2 popup_at 608
check "... and leaves one Kelvane running" test "$(pgrep -c -f "^$KELVANE\$")" = 1
click_popup quitter
check "Quitter ends the program at once" ended_within 2
check "... with status 0" test "$status" = 0
check "... and removes the icon" wait_for 5 icon_gone

# What a logout or Ctrl+C sends ends Kelvane like Quitter, About dialog and all.
for sig in TERM INT HUP; do
    start_kelvane "$work/$sig.log"
    [ "$sig" = HUP ] && click_popup credit # the credit label opens About
    kill -s "$sig" "$kelvane_pid"
    ended_within 5
    check "SIG$sig ends Kelvane with status 0" test "$status" = 0
    check "SIG$sig removes the icon" wait_for 5 icon_gone
    check "SIG$sig leaves no lock or socket behind" no_leftovers
done

# After Quitter the About dialog keeps Kelvane alive; a second start then has
# no popup to bring back, and must not break the first.
about_shown() { xdotool search --onlyvisible --name '^Kelvane$' | grep -qv "^$(($(popup_id)))\$"; }
start_kelvane "$work/about.log"
click_popup credit # the credit label opens About
wait_for 5 about_shown
click_popup quitter
wait_for 5 icon_gone
timeout 10 "$KELVANE" >"$work/after-quitter.log" 2>&1
check "a second start after Quitter, About still open, exits 0" test "$?" = 0
check "... and the first goes on without an error" test "$(wc -c <"$work/about.log")" = 0
kill "$kelvane_pid"
check "... and ends with status 0" ended_within 5
check "... status 0" test "$status" = 0

# Scaled: the right edge on the screen's edge, and outlines one device pixel
# wide on all four sides, black on the edge and white just inside.
# The running Kelvane's own popup, by its process: the X server may still
# hold the window of the one before it (the last scale's) for a moment after
# that one ended, and a lookup by size alone then checks the old window, or a
# window that vanishes while it is being looked at.
scaled_popup_geometry() {
    local id x y w h
    for id in $(xdotool search --onlyvisible --pid "$kelvane_pid" 2>/dev/null); do
        read -r x y w h < <(geometry_of "$id") || continue
        if [ "$w" -gt 200 ] && [ "$h" -gt 100 ] && [ "$h" -lt 200 ]; then
            echo "$w $h $x $y"
            return 0
        fi
    done
    return 1
}
pixel() { convert "$work/shot.png" -format "%[pixel:p{$1,$2}]" info:; }
crisp_outline() {
    local w h x y
    read -r w h x y < <(scaled_popup_geometry) || return 1
    import -window root -depth 8 "$work/shot.png" || return 1
    local black='srgb(0,0,0)' white='srgb(255,255,255)' mx=$((x + w / 2)) my=$((y + h / 4))
    [ "$(pixel "$x" "$my")" = "$black" ] && [ "$(pixel $((x + 1)) "$my")" = "$white" ] &&
        [ "$(pixel $((x + w - 1)) "$my")" = "$black" ] && [ "$(pixel $((x + w - 2)) "$my")" = "$white" ] &&
        [ "$(pixel "$mx" "$y")" = "$black" ] && [ "$(pixel "$mx" $((y + 1)))" = "$white" ] &&
        [ "$(pixel "$mx" $((y + h - 1)))" = "$black" ] && [ "$(pixel "$mx" $((y + h - 2)))" = "$white" ]
}
# "Quitter", 1920 x 840 twips in: a black frame round a light grey block.
framed_grey_block() {
    local w h x y
    read -r w h x y < <(scaled_popup_geometry) || return 1
    local qx=$((x + 128 * w / 185)) qy=$((y + 56 * h / 81))
    [ "$(pixel "$qx" "$qy")" = 'srgb(0,0,0)' ] && [ "$(pixel $((qx + 3)) $((qy + 3)))" = 'srgb(224,224,224)' ]
}
right_edge_on_screen_edge() { local w h x y; read -r w h x y < <(scaled_popup_geometry) && [ $((x + w)) = 960 ]; }

for scale in 1.5 2; do
    env QT_SCALE_FACTOR=$scale "$KELVANE" >"$work/scale-$scale.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    check "at scale $scale the popup's right edge is the screen's" wait_for 10 right_edge_on_screen_edge
    check "at scale $scale its outlines are one device pixel, crisp" crisp_outline
    check "... and Quitter is a framed grey block" framed_grey_block
    kill "$kelvane_pid"
    ended_within 5
done

# Last: the X server goes away, as it does at every logout.
start_kelvane "$work/lost.log"
kill "$xvfb_pid"
ended_within 5
check "a lost X server ends Kelvane with status 0 or 1, not a crash" test "$status" -le 1
check "... with one line on stderr" test "$(wc -l <"$work/lost.log")" = 1
check "... and leaves no lock or socket behind" no_leftovers

summary
