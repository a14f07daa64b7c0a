#!/usr/bin/env bash
# Kelvane as a native Wayland client, its popup a layer surface, under a
# headless compositor with a panel and its notification area:
#   sway             sway with swaybar (its tray is a status-notifier host)
#   sway-noxwayland  the same without XWayland
#   labwc            labwc with waybar
#   kwin             kwin_wayland with plasmashell, nested on an Xvfb
# SCALE (1 unless given) is the output's scale.
set -u

KELVANE=${1:?usage: run-wayland-tests.sh path/to/kelvane COMPOSITOR [SCALE]}
compositor=${2:?which compositor}
scale=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
vptr=${KELVANE_VPTR:?the virtual pointer}
source "$here/../../scripts/virtual-desktop.sh"
source "$here/lib.sh"
eval "lib_$(declare -f check)"

# The panel each compositor is given (swaybar and waybar 24 pixels high,
# Plasma's default panel, whose exclusive zone is 40), and where its tray
# draws the icon (a strip of the output, "WIDTHxHEIGHT+X+Y", logical pixels).
panel=24
declare -A zone=([sway]=24 [sway-noxwayland]=24 [labwc]=24 [kwin]=40)
declare -A strip=([sway]=480x24+480+696 [sway-noxwayland]=480x24+480+696
    [labwc]=480x24+480+696 [kwin]=480x40+480+672)
[ -n "${strip[$compositor]:-}" ] || { echo "no compositor '$compositor'" >&2; exit 2; }
rest=$((zone[$compositor] + 30))

# The output as the user sees it, in its own (device) pixels; KWin's is
# drawn 1:1 in a window on the Xvfb.
screenshot() {
    if [ "$compositor" = kwin ]; then
        DISPLAY=$outer_display import -window root -depth 8 "$1"
    else
        grim "$1"
    fi
}
# A pixel of the last picture: dark (the outlines, in the theme's window-text
# colour: black, or Breeze's near-black under Plasma) or light (white).
shade() { convert "$work/shot.png" -format "%[fx:p{$1,$2}.intensity < 0.25 ? 0 : (p{$1,$2}.intensity > 0.9 ? 2 : 1)]" info:; }

# The popup is 2775 x 1215 twips, 185 x 81 pixels at 100 %, in the output's
# bottom-right corner: its outline black, white just inside, in device
# pixels. $1: its bottom edge's distance above the output's, in logical
# pixels.
popup_shown_at() {
    local b=$1 w h x y
    w=$(awk -v s="$scale" 'BEGIN { printf "%d", 185 * s + 0.5 }')
    h=$(awk -v s="$scale" 'BEGIN { printf "%d", 81 * s + 0.5 }')
    x=$(awk -v s="$scale" -v w="$w" 'BEGIN { printf "%d", 960 * s - w }')
    y=$(awk -v s="$scale" -v h="$h" -v b="$b" 'BEGIN { printf "%d", (720 - b) * s - h }')
    screenshot "$work/shot.png" || return 1
    local mx=$((x + w / 2)) my=$((y + h / 4))
    [ "$(shade "$x" "$my")$(shade $((x + 1)) "$my")" = 02 ] &&
        [ "$(shade $((x + w - 1)) "$my")$(shade $((x + w - 2)) "$my")" = 02 ] &&
        [ "$(shade "$mx" "$y")$(shade "$mx" $((y + 1)))" = 02 ] &&
        [ "$(shade "$mx" $((y + h - 1)))$(shade "$mx" $((y + h - 2)))" = 02 ]
}
# At rest the popup keeps its 30 pixels above the panel (the compositor keeps
# layer surfaces clear of it); back from a slide, one or two more.
rests() { popup_shown_at "$rest"; }
back() { popup_shown_at $((rest + 1)) || popup_shown_at $((rest + 2)); }
# Nothing of the popup in the corner: no white above the panel there.
out_of_sight() {
    screenshot "$work/shot.png" || return 1
    local x y
    x=$(awk -v s="$scale" 'BEGIN { printf "%d", 868 * s }')
    for y in 600 630 660; do
        [ "$(shade "$x" "$(awk -v s="$scale" -v y="$y" 'BEGIN { printf "%d", y * s }')")" = 2 ] && return 1
    done
    return 0
}

# A failed check leaves the last picture of the output beside the logs.
check() {
    local before=$failed
    lib_check "$@"
    [ "$failed" = "$before" ] || cp "$work/shot.png" "$work/failed-$failed.png" 2>/dev/null || true
}

# Clicks a point of the output given in logical pixels.
click_at() {
    if [ "$compositor" = kwin ]; then
        DISPLAY=$outer_display xdotool mousemove "$1" "$2" click 1
    else
        VPTR_SIZE=960x720 "$vptr" "$1" "$2" 1
    fi
}
# A part of the popup at rest (see lib.sh's popup_part), $2 pixels above the
# output's bottom.
click_part_at() {
    local tx ty
    read -r tx ty <<<"${popup_part[$1]}"
    click_at $((775 + tx * 185 / 2775)) $((720 - $2 - 81 + ty * 81 / 1215))
}
# The thermometer's red bulb in the tray's strip, in logical pixels.
icon_point() {
    local w h x y
    IFS='x+' read -r w h x y <<<"${strip[$compositor]}"
    screenshot "$work/shot.png" || return 1
    convert "$work/shot.png" -crop "$(awk -v s="$scale" -v w="$w" -v h="$h" -v x="$x" -v y="$y" \
        'BEGIN { printf "%dx%d+%d+%d", w * s, h * s, x * s, y * s }')" txt:- 2>/dev/null |
        awk -F'[,: ()]+' -v x="$x" -v y="$y" -v s="$scale" \
            'NR > 1 && $3 > 150 && $4 < 90 && $5 < 90 { print int($1 / s) + x, int($2 / s) + y; n++; exit }
             END { if (!n) exit 1 }'
}
click_icon() { local x y; read -r x y < <(icon_point) && click_at "$x" "$y"; }

# The popup's layer surface as Kelvane's Wayland traffic tells it: made
# (get_layer_surface) and let go (destroy) as often, or once more made.
layer_surfaces() { grep -c 'get_layer_surface' "$work/kelvane.log"; }
layer_surfaces_gone() { grep -c 'zwlr_layer_surface_v1#[0-9]*\.destroy()' "$work/kelvane.log"; }
unmapped() { [ "$(layer_surfaces)" -ge 1 ] && [ "$(layer_surfaces)" = "$(layer_surfaces_gone)" ]; }

no_x11_window() { local tree; tree=$(xwininfo -root -tree) && ! grep -i kelvane <<<"$tree" >/dev/null; }
owned() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.GetNameOwner string:"$1" >/dev/null 2>&1; }
plasma_host() { dbus-send --session --print-reply --dest=org.freedesktop.DBus / \
    org.freedesktop.DBus.ListNames | grep StatusNotifierHost >/dev/null; }
new_socket() { ls "$XDG_RUNTIME_DIR" | grep -E '^wayland-[0-9]+$' | head -1 | grep .; }

start_compositor() {
    case $compositor in
    sway | sway-noxwayland)
        local xwayland=enable
        [ "$compositor" = sway-noxwayland ] && xwayland=disable
        cat >"$work/sway.conf" <<CONF
output HEADLESS-1 resolution $(awk -v s="$scale" 'BEGIN { printf "%dx%d", 960 * s, 720 * s }') scale $scale
xwayland $xwayland
bar {
    position bottom
    height $panel
    tray_output *
    status_command sleep infinity
}
CONF
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
            sway -c "$work/sway.conf" >"$work/compositor.log" 2>&1 &
        pids+=($!)
        wait_for 20 new_socket || return 1
        export WAYLAND_DISPLAY=$(new_socket)
        export SWAYSOCK=$(ls "$XDG_RUNTIME_DIR"/sway-ipc.*.sock)
        unset DISPLAY
        if [ "$xwayland" = enable ]; then
            # sway starts XWayland with its first X client and hands its
            # display to what it runs.
            printf '#!/bin/sh\nxdpyinfo >/dev/null && echo "$DISPLAY" >"%s/display"\n' "$work" \
                >"$work/display.sh"
            chmod +x "$work/display.sh"
            swaymsg exec "$work/display.sh" >/dev/null
            wait_for 20 test -s "$work/display" || return 1
            export DISPLAY=$(cat "$work/display")
        fi
        wait_for 20 owned org.kde.StatusNotifierWatcher
        ;;
    labwc)
        mkdir -p "$HOME/.config/waybar"
        printf '{"position": "bottom", "height": %d, "modules-right": ["tray"]}\n' "$panel" \
            >"$HOME/.config/waybar/config"
        WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
            labwc -s "sh -c 'wlr-randr --output HEADLESS-1 --custom-mode $(awk -v s="$scale" 'BEGIN { printf "%dx%d", 960 * s, 720 * s }') --scale $scale; exec waybar'" \
            >"$work/compositor.log" 2>&1 &
        pids+=($!)
        wait_for 20 new_socket || return 1
        export WAYLAND_DISPLAY=$(new_socket)
        unset DISPLAY
        wait_for 20 owned org.kde.StatusNotifierWatcher
        ;;
    kwin)
        # As Plasma's Wayland session sets them.
        export KDE_FULL_SESSION=true KDE_SESSION_VERSION=6 XDG_CURRENT_DESKTOP=KDE \
            XDG_SESSION_TYPE=wayland
        vd_start_server Xvfb -screen 0 960x720x24 -dpi 96 +extension GLX || return 1
        outer_display=$DISPLAY
        cat >"$work/session.sh" <<SCRIPT
#!/bin/sh
echo "\$WAYLAND_DISPLAY" >"$work/wayland.tmp" && mv "$work/wayland.tmp" "$work/wayland"
dbus-update-activation-environment --all
kded6 >"$work/kded.log" 2>&1 &
exec plasmashell --no-respawn >"$work/plasmashell.log" 2>&1
SCRIPT
        chmod +x "$work/session.sh"
        KWIN_WAYLAND_NO_PERMISSION_CHECKS=1 kwin_wayland --x11-display "$DISPLAY" \
            --width 960 --height 720 --exit-with-session "$work/session.sh" \
            >"$work/compositor.log" 2>&1 &
        pids+=($!)
        wait_for 40 test -s "$work/wayland" || return 1
        export WAYLAND_DISPLAY=$(cat "$work/wayland")
        unset DISPLAY
        wait_for 40 owned org.kde.StatusNotifierWatcher && wait_for 40 plasma_host
        ;;
    esac
}

vd_session
tag_session
trap end_session EXIT
export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config
mkdir -p -m 700 "$HOME"
unset QT_QPA_PLATFORM
vd_start_session_bus
check "$compositor: the compositor starts, with its panel's tray" start_compositor

# Its Wayland traffic tells when the popup's surface goes.
WAYLAND_DEBUG=client "$KELVANE" >"$work/kelvane.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)
check "$compositor: the popup rests at the bottom-right corner, 30 px above the panel" wait_for 15 rests
[ "$scale" != 1 ] && check "$compositor: ... at scale $scale its outlines one device pixel, crisp" rests
if [ -n "${DISPLAY:-}" ]; then
    check "$compositor: ... as a Wayland client, with no window on XWayland" no_x11_window
fi
check "$compositor: the icon is drawn in the panel's tray" wait_for 10 icon_point
cp "$work/shot.png" "$work/at-rest.png" 2>/dev/null
click_part_at masque "$rest"
check "$compositor: Masqué takes the popup out of sight" wait_for 5 out_of_sight
check "$compositor: ... and unmaps it" wait_for 2 unmapped
click_icon
check "$compositor: a click on the icon slides it back" wait_for 5 back
click_part_at masque $((rest + 1))
wait_for 5 out_of_sight
env -u WAYLAND_DEBUG "$KELVANE" >"$work/second.log" 2>&1
check "$compositor: a second start exits 0" test "$?" = 0
check "$compositor: ... and brings the popup back" wait_for 5 back
click_part_at quitter $((rest + 1))
check "$compositor: Quitter ends Kelvane" ended_within 5
check "$compositor: ... with status 0" test "$status" = 0
if [ "$compositor" = sway-noxwayland ]; then
    # What the popup's labels read, from Kelvane's own account of them.
    "$(dirname "$KELVANE")/kelvane-snapshot" 2 "$work/snapshot.png" >"$work/snapshot.log" 2>&1
    check "$compositor: with no X11 at all Kelvane runs and reads a temperature" \
        grep -E 'GPU Temperature : +[0-9]+°c' "$work/snapshot.log"
fi
summary
