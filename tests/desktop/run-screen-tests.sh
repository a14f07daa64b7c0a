#!/usr/bin/env bash
# The popup on the screens people have: a panel taller than the allowance,
# a resolution that changes while Kelvane runs, a second monitor below the
# first, a full-screen program that wants its keyboard back, many starts at
# once, and a Wayland session without XWayland. Starts and stops its own
# servers: Xvfb, and Xephyr inside it where the screen has to change.
set -u

KELVANE=${1:?usage: run-screen-tests.sh path/to/kelvane}
here=$(cd "$(dirname "$0")" && pwd)

for tool in Xvfb Xephyr xrandr openbox trayer xterm xdotool xwininfo xprop; do
    if ! command -v "$tool" >/dev/null; then
        echo "missing $tool: run scripts/install-deps" >&2
        exit 1
    fi
done

source "$here/../../scripts/virtual-desktop.sh"
vd_session
source "$here/lib.sh"

# The popup's "x y width height" and whether it is mapped, from the X server.
popup_geometry() { geometry_of "$(popup_id)"; }
popup_xy() { local x y w h; read -r x y w h < <(popup_geometry) && echo "$x,$y"; }
popup_is_at() { [ "$(popup_xy)" = "$1" ]; }
popup_mapped() { xwininfo -id "$(popup_id)" | grep -q 'Map State: IsViewable'; }
popup_unmapped() { xwininfo -id "$(popup_id)" | grep -q 'Map State: IsUnMapped'; }
popup_below() { local x y w h; read -r x y w h < <(popup_geometry) && [ "$y" -ge "$1" ]; }
masque() { click_part masque "$1" "$2" 185 81; }
quitter() { click_part quitter "$1" "$2" 185 81; }
run_kelvane() {
    "$KELVANE" >"$work/$1.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
}
stop_kelvane() {
    kill "$kelvane_pid" 2>/dev/null
    ended_within 5
}
workarea_bottom() {
    xprop -root _NET_WORKAREA | awk -F'[=,]' '{ print $3 + $5 }'
}

# --- A panel taller than the allowance, under Openbox, which leaves the
# panel's strut out of the work area.
vd_start_display 960x720 || exit 1
openbox >"$work/openbox.log" 2>&1 &
openbox_pid=$!
pids+=($openbox_pid)
wait_for 20 quietly xprop -root _NET_WORKAREA
for panel in 48 24; do
    trayer --edge bottom --align right --widthtype request --height "$panel" \
        --SetDockType true --SetPartialStrut true >"$work/trayer-$panel.log" 2>&1 &
    panel_pid=$!
    pids+=($panel_pid)
    wait_for 10 test "$(workarea_bottom)" = $((720 - panel))
    run_kelvane "panel-$panel"
    if [ "$panel" = 48 ]; then
        check "a 48 px panel: the popup rests on its top edge, at 775,591" wait_for 10 popup_is_at 775,591
        masque 775 591
        check "... Masqué takes it out of sight" wait_for 5 popup_below 720
        "$KELVANE" >/dev/null 2>&1
        check "... and it comes back above the panel, at 775,590" wait_for 5 popup_is_at 775,590
    else
        check "a 24 px panel changes nothing: 775,609" wait_for 10 popup_is_at 775,609
    fi
    stop_kelvane
    end_process "$panel_pid"
done

# --- The keyboard: a full-screen xterm that types into a file has it; a
# click on Masqué takes it, and it must come back once the popup has gone.
xterm_has_keyboard() {
    local f
    f=$(xdotool getwindowfocus) && xdotool search --class xterm | grep -qx "$f"
}
keyboard_under() {
    local wm=$1 typed=$work/typed-$1.txt xterm_pid
    xterm -fullscreen -e "stty -echo; cat >'$typed'" &
    xterm_pid=$!
    pids+=($xterm_pid)
    wait_for 10 quietly xdotool search --onlyvisible --class xterm
    click_centre "$(xdotool search --onlyvisible --class xterm | head -1)"
    check "$wm: a full-screen program has the keyboard" wait_for 10 xterm_has_keyboard
    run_kelvane "keyboard-$wm"
    wait_for 10 popup_is_at 775,609
    check "$wm: the popup shows above a full-screen program" popup_mapped
    masque 775 609
    check "$wm: Masqué slides it away" wait_for 5 popup_unmapped
    check "$wm: ... and the full-screen program has the keyboard again" wait_for 2 xterm_has_keyboard
    xdotool type --delay 20 'kelvane'
    xdotool key Return
    check "$wm: the keys typed next reach it" wait_for 5 grep -qx kelvane "$typed"
    stop_kelvane
    end_process "$xterm_pid"
}
keyboard_under openbox
end_process "$openbox_pid"
vd_start_session_bus # where Xfwm4 finds its settings
xfwm4 --compositor=off >"$work/xfwm4.log" 2>&1 &
wm_pid=$!
pids+=($wm_pid)
wait_for 20 quietly wmctrl -m
keyboard_under xfwm4
# Xephyr's window must keep the size it asks for: no window manager from here.
end_process "$wm_pid"

# --- Ten starts at once: one Kelvane, nine that forwarded their request.
trayer --edge bottom --align right --widthtype request --height 24 --SetDockType true \
    >"$work/trayer.log" 2>&1 &
pids+=($!)
starts=()
for i in $(seq 10); do
    "$KELVANE" >"$work/start-$i.log" 2>&1 &
    starts+=($!)
done
ended=0 zero=0 running=()
wait_for 30 bash -c "[ \$(for p in ${starts[*]}; do kill -0 \$p 2>/dev/null && echo; done | wc -l) -le 1 ]"
for pid in "${starts[@]}"; do
    if kill -0 "$pid" 2>/dev/null; then
        running+=("$pid")
    else
        wait "$pid"
        code=$?
        ended=$((ended + 1))
        [ "$code" = 0 ] && zero=$((zero + 1))
    fi
done
pids+=("${running[@]}")
check "ten starts at once leave exactly one Kelvane running" test "${#running[@]}" = 1
check "... the nine others exit with status 0" test "$ended,$zero" = 9,9
check "... having handed on their request" \
    test "$(cat "$work"/start-*.log | grep -c 'did not answer')" = 0
check "... its popup is shown at its corner" wait_for 5 popup_is_at 775,609
check "... and mapped" popup_mapped
check "... and its icon docked" wait_for 10 icon_docked
kelvane_pid=${running[0]:-0}
quitter 775 609
check "... and Quitter ends it with status 0" ended_within 5
check "... status 0" test "$status" = 0

# --- A resolution that changes while Kelvane runs.
export DISPLAY_HOST=$DISPLAY
vd_start_server Xephyr -resizeable -screen 960x720 || exit 1
run_kelvane resolution
check "on Xephyr at 960 x 720 the popup rests at 775,609" wait_for 10 popup_is_at 775,609
xrandr -s 1280x1024 2>/dev/null
check "at 1280 x 1024 it is back in the corner, at 1095,913, within a second" wait_for 1 popup_is_at 1095,913
masque 1095 913
wait_for 5 popup_below 1024
xrandr -s 800x600 2>/dev/null
check "hidden, at 800 x 600 it stays out of sight" wait_for 1 popup_below 600
check "... unmapped" popup_unmapped
check "... with its right edge on the new screen's" wait_for 1 test "$(popup_xy | cut -d, -f1)" = 615
"$KELVANE" >/dev/null 2>&1
check "... and comes back to 615,488" wait_for 5 popup_is_at 615,488
stop_kelvane
export DISPLAY=$DISPLAY_HOST

# --- Two monitors, the second below the primary one.
vd_start_server Xephyr -screen 1024x768 -origin 0,768 -screen 1024x768 +xinerama || exit 1
run_kelvane stacked
check "with a monitor below, the popup rests on the upper one at 839,657" wait_for 10 popup_is_at 839,657
masque 839 657
check "Masqué leaves nothing of it on the lower one" wait_for 5 popup_unmapped
check "... though it is out of sight below the upper one" popup_below 768
"$KELVANE" >/dev/null 2>&1
check "... and it comes back" wait_for 5 popup_is_at 839,656
stop_kelvane
export DISPLAY=$DISPLAY_HOST

# --- A Wayland session without XWayland: no ordinary Wayland window.
env -u DISPLAY WAYLAND_DISPLAY=wayland-1 "$KELVANE" >"$work/wayland.log" 2>&1
code=$?
check "with only WAYLAND_DISPLAY Kelvane exits with status 1" test "$code" = 1
check "... saying in one line that it needs X11 through XWayland" \
    grep -q 'needs an X11 display; Wayland sessions run it through XWayland' "$work/wayland.log"
check "... and nothing else" test "$(wc -l <"$work/wayland.log")" = 1

summary
