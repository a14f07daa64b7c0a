#!/usr/bin/env bash
# Kelvane under a full desktop as Debian ships it, started as its session
# starts it: gnome (GNOME Shell on X11 with the AppIndicator extension,
# Ubuntu's layout), gnome-wayland (its default Wayland session, nested on the
# Xvfb, Kelvane through XWayland), plasma, plasma-wayland (Plasma 6's default
# Wayland session, nested likewise), cinnamon, mate, lxqt or budgie;
# SESSIONS sessions one after another (1 unless given), each on an Xvfb with
# GLX, with a private home, session bus and an empty private system bus
# (GNOME Shell dies without one).
set -u

KELVANE=${1:?usage: run-full-desktop-tests.sh path/to/kelvane DESKTOP [sessions]}
desktop=${2:?which desktop}
sessions=${3:-1}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
source "$here/lib.sh"

# What differs between the Debian releases' desktops, in one place: the
# Plasma generation (5.27 in Debian 12, 6.3 in 13; its kded carries the
# status-notifier watcher), and Plasma 6's panel, 40 pixels that float 8
# above the screen's edge.
plasma=$(dpkg-query -W -f '${Version}' plasma-workspace 2>/dev/null | sed 's/^[0-9]*://; s/\..*//')
case ${plasma:-6} in
5) plasma_strip=480x44+480+676 plasma_rest=595 ;;
*) plasma=6 plasma_strip=480x40+480+672 plasma_rest=599 ;;
esac

# Where each desktop's notification area draws the icon (a strip of the
# screen, "WIDTHxHEIGHT+X+Y") and where the popup rests on its work area.
declare -A strip=([gnome]=380x32+560+0 [gnome-wayland]=380x32+560+0 [plasma]=$plasma_strip
    [plasma-wayland]=$plasma_strip [cinnamon]=480x40+480+680 [mate]=480x25+480+0
    [lxqt]=480x32+480+688 [budgie]=480x36+480+684)
declare -A rest=([gnome]=609 [gnome-wayland]=609 [plasma]=$plasma_rest
    [plasma-wayland]=$plasma_rest [cinnamon]=599 [mate]=609 [lxqt]=607 [budgie]=603)
[ -n "${strip[$desktop]:-}" ] || { echo "no desktop '$desktop'" >&2; exit 2; }

# Under Wayland, windows are read back on XWayland's display and the
# screen, the pointer and the keyboard are the outer Xvfb's.
outer() { DISPLAY=${outer_display:-$DISPLAY} "$@"; }
xdotool() { case $1 in search | getwindowfocus) command xdotool "$@" ;; *) outer command xdotool "$@" ;; esac; }

bus_call() { dbus-send --session --print-reply "$@" 2>/dev/null; }
owned() { bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner string:"$1" >/dev/null; }
extension_active() {
    bus_call --dest=org.gnome.Shell /org/gnome/Shell org.gnome.Shell.Extensions.GetExtensionInfo \
        string:ubuntu-appindicators@ubuntu.com | grep -A1 '"state"' | grep 'double 1' >/dev/null
}
overview_active() {
    bus_call --dest=org.gnome.Shell /org/gnome/Shell org.freedesktop.DBus.Properties.Get \
        string:org.gnome.Shell string:OverviewActive | grep 'boolean true' >/dev/null
}
leave_overview() { xdotool key Escape && wait_for 1 not overview_active; }
plasma_host() { bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames | grep StatusNotifierHost >/dev/null; }
work_area_bottom() { xprop -root _NET_WORKAREA 2>/dev/null | awk -F', ' '{print $2 + $4}'; }
panel_reserved() { [ "$(work_area_bottom)" = "$1" ]; }

# The thermometer's red bulb in the notification area's strip.
icon_point() {
    local w h x y
    IFS='x+' read -r w h x y <<<"${strip[$desktop]}"
    outer import -window root -crop "${strip[$desktop]}" txt:- 2>/dev/null | awk -F'[,: ()]+' -v x="$x" -v y="$y" \
        'NR > 1 && $3 > 150 && $4 < 90 && $5 < 90 { print $1 + x, $2 + y; n++; exit } END { if (!n) exit 1 }'
}
icon_drawn() { icon_point >/dev/null; }
# $1: the button (1 unless given). The pointer rests on the icon a moment
# first, as a hand's does: a nested shell picks what is under the pointer
# after the motion reaches it, and a click that came with the motion once
# went to what had been under it before.
click_tray_icon() {
    local x y
    read -r x y < <(icon_point) && xdotool mousemove "$x" "$y" sleep 0.2 click "${1:-1}"
}
# The command a desktop's session runs for an autostarted helper.
autostart_command() { sed -n 's/^Exec=//p' "/etc/xdg/autostart/$1.desktop" | head -1; }
top_level_windows() { xwininfo -root -children | grep -c '^ *0x'; }
no_new_window() { [ "$(top_level_windows)" = "$1" ]; }

start_desktop() {
    dbus-update-activation-environment --all 2>/dev/null
    case $desktop in
    gnome | gnome-wayland)
        gsettings set org.gnome.shell disable-user-extensions false
        gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
        if [ "$desktop" = gnome ]; then
            gnome-shell --x11 --replace >"$work/desktop.log" 2>&1 &
        else
            MUTTER_DEBUG_DUMMY_MODE_SPECS=960x720 MUTTER_DEBUG_DUMMY_MONITOR_SCALES=1 \
                gnome-shell --nested --wayland --wayland-display "wayland-kelvane-$$" >"$work/desktop.log" 2>&1 &
        fi
        pids+=($!)
        wait_for 40 extension_active || return 1
        if [ "$desktop" = gnome-wayland ]; then
            outer_display=$DISPLAY
            DISPLAY=$(grep -o 'Using public X11 display :[0-9]*' "$work/desktop.log" | grep -o ':[0-9]*$')
            XAUTHORITY=$(ls "$XDG_RUNTIME_DIR"/.mutter-Xwaylandauth.* | head -1)
            export DISPLAY XAUTHORITY
        fi
        # It starts in the overview, and takes no key until its start-up
        # animation has ended: Escape again until the overview is closed,
        # with the pointer on the screen first, as a user's is (the nested
        # shell took the first click after the pointer entered its window
        # for the entering only).
        wait_for 10 overview_active || return 1
        xdotool mousemove 480 360
        wait_for 10 leave_overview
        ;;
    plasma)
        kwin_x11 --replace >"$work/kwin.log" 2>&1 &
        pids+=($!)
        kded$plasma >"$work/kded.log" 2>&1 &
        pids+=($!)
        plasmashell --no-respawn >"$work/desktop.log" 2>&1 &
        pids+=($!)
        wait_for 40 owned org.kde.StatusNotifierWatcher && wait_for 40 plasma_host
        ;;
    plasma-wayland)
        # KWin runs the session's script once its Xwayland is up, with
        # DISPLAY and XAUTHORITY naming it.
        cat >"$work/session.sh" <<SCRIPT
#!/bin/sh
printf '%s\\n' "\$DISPLAY" "\${XAUTHORITY:-}" >"$work/xwayland.tmp"
mv "$work/xwayland.tmp" "$work/xwayland"
dbus-update-activation-environment --all
kded$plasma >"$work/kded.log" 2>&1 &
exec plasmashell --no-respawn >"$work/desktop.log" 2>&1
SCRIPT
        chmod +x "$work/session.sh"
        kwin_wayland --x11-display "$DISPLAY" --xwayland --width 960 --height 720 \
            --exit-with-session "$work/session.sh" >"$work/kwin.log" 2>&1 &
        pids+=($!)
        wait_for 40 test -s "$work/xwayland" || return 1
        outer_display=$DISPLAY
        { read -r DISPLAY && read -r XAUTHORITY; } <"$work/xwayland"
        export DISPLAY XAUTHORITY
        wait_for 40 owned org.kde.StatusNotifierWatcher && wait_for 40 plasma_host
        ;;
    cinnamon)
        cinnamon --replace >"$work/desktop.log" 2>&1 &
        pids+=($!)
        $(autostart_command xapp-sn-watcher) >"$work/sn-watcher.log" 2>&1 &
        pids+=($!)
        wait_for 40 panel_reserved 680 && wait_for 20 owned org.kde.StatusNotifierWatcher
        ;;
    mate)
        marco --replace >"$work/marco.log" 2>&1 &
        pids+=($!)
        mate-panel >"$work/desktop.log" 2>&1 &
        pids+=($!)
        wait_for 40 owned org.kde.StatusNotifierWatcher
        ;;
    lxqt)
        mkdir -p "$HOME/.config/lxqt"
        printf '[General]\nwindow_manager=openbox\n' >"$HOME/.config/lxqt/session.conf"
        lxqt-session >"$work/desktop.log" 2>&1 &
        pids+=($!)
        wait_for 40 owned org.kde.StatusNotifierWatcher
        ;;
    budgie)
        budgie-wm --x11 --replace >"$work/wm.log" 2>&1 &
        pids+=($!)
        # From Budgie 10.9 its daemon is the status-notifier watcher.
        budgie-daemon >"$work/daemon.log" 2>&1 &
        pids+=($!)
        budgie-panel --replace >"$work/desktop.log" 2>&1 &
        pids+=($!)
        wait_for 40 panel_reserved 684
        ;;
    esac
}

# Ends the session as end_session does, removing first the locks and
# sockets that the nested shell's XWayland displays (public and managed)
# leave behind when it is killed, once the process named in a lock is gone:
# the next session's shell met them.
end_desktop() {
    end_tagged_processes
    local n pid
    for n in $(grep -oE '(display|using) :[0-9]+' "$work/desktop.log" 2>/dev/null | grep -o '[0-9]*$'); do
        pid=$(tr -d ' ' 2>/dev/null </tmp/.X$n-lock) || continue
        wait_for 5 not kill -0 "$pid" 2>/dev/null && rm -f "/tmp/.X$n-lock" "/tmp/.X11-unix/X$n"
    done
    end_session
}

# A failed check leaves a picture of the screen beside the logs.
check_on_screen() {
    local before=$failed
    check "$@"
    [ "$failed" = "$before" ] && return
    outer import -window root "$work/failed-$failed.png" 2>/dev/null
    echo "  (the popup at $(popup_y), the work area's bottom at $(work_area_bottom))"
}

session() {
    vd_session
    tag_session
    trap end_desktop EXIT
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
    mkdir -p -m 700 "$HOME"
    # Each desktop's own session variables, as its session starter sets them.
    export XDG_SESSION_TYPE=x11
    case $desktop in
    gnome) export XDG_CURRENT_DESKTOP=ubuntu:GNOME ;;
    gnome-wayland) export XDG_SESSION_TYPE=wayland XDG_CURRENT_DESKTOP=ubuntu:GNOME ;;
    plasma) export KDE_FULL_SESSION=true KDE_SESSION_VERSION=$plasma XDG_CURRENT_DESKTOP=KDE ;;
    plasma-wayland)
        export XDG_SESSION_TYPE=wayland KDE_FULL_SESSION=true KDE_SESSION_VERSION=$plasma \
            XDG_CURRENT_DESKTOP=KDE
        ;;
    cinnamon) export XDG_CURRENT_DESKTOP=X-Cinnamon ;;
    mate) export XDG_CURRENT_DESKTOP=MATE ;;
    lxqt) export XDG_CURRENT_DESKTOP=LXQt XDG_CONFIG_DIRS=/etc:/etc/xdg:/usr/share ;;
    budgie) export XDG_CURRENT_DESKTOP=Budgie:GNOME ;;
    esac
    vd_start_server Xvfb -screen 0 960x720x24 -dpi 96 +extension GLX || return 1
    vd_start_session_bus
    cat >"$work/system.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/><allow user="*"/></policy></busconfig>
CONF
    dbus-daemon --config-file="$work/system.conf" --fork --print-address=3 --print-pid=4 \
        3>"$work/system-bus" 4>"$work/system-bus.pid"
    export DBUS_SYSTEM_BUS_ADDRESS=$(cat "$work/system-bus")
    pids+=($(cat "$work/system-bus.pid"))

    check_on_screen "$desktop: the desktop starts" start_desktop
    unset QT_QPA_PLATFORM
    env QT_QPA_PLATFORM=xcb "$KELVANE" >"$work/kelvane.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    check_on_screen "$desktop: the popup rests at 775,${rest[$desktop]}" wait_for 15 popup_at "${rest[$desktop]}"
    check_on_screen "$desktop: the popup has no taskbar entry" not in_client_list "$(popup_id)"
    check_on_screen "$desktop: the icon is drawn in the notification area" wait_for 10 icon_drawn
    # GNOME's extension dropped the item about 1.4 s after taking it.
    sleep 3
    check_on_screen "$desktop: ... and still is 3 s later" icon_drawn
    click_popup masque
    check_on_screen "$desktop: Masqué slides the popup off the screen" wait_for 5 popup_at 722
    click_tray_icon
    check_on_screen "$desktop: a left click on the icon brings it back" wait_for 5 popup_at $((rest[$desktop] - 1))
    local before
    before=$(top_level_windows)
    click_tray_icon 3
    check_on_screen "$desktop: a right click on the icon opens no window" not wait_for 1 not no_new_window "$before"
    click_popup masque
    check_on_screen "$desktop: ... and the next click, on Masqué, works at once" wait_for 5 popup_at 722
    click_tray_icon
    check_on_screen "$desktop: a single click on the icon brings it back again" \
        wait_for 5 popup_at $((rest[$desktop] - 1))
    env QT_QPA_PLATFORM=xcb "$KELVANE" >"$work/second.log" 2>&1
    check_on_screen "$desktop: a second start exits 0" test "$?" = 0
    click_popup credit
    check_on_screen "$desktop: the About dialog opens centred" wait_for 5 centred
    click_popup credit
    check_on_screen "$desktop: ... and only once" test "$(about_windows | wc -l)" = 1
    close_about
    click_popup quitter
    check_on_screen "$desktop: Quitter ends the program" ended_within 5
    check_on_screen "$desktop: ... with status 0" test "$status" = 0
    check_on_screen "$desktop: ... and takes the icon away" wait_for 5 not icon_drawn
}

sessions_failed=0
for n in $(seq "$sessions"); do
    echo "session $n:"
    (session && summary) || sessions_failed=$((sessions_failed + 1))
done
echo "$desktop: $((sessions - sessions_failed)) of $sessions sessions passed"
[ "$sessions_failed" -eq 0 ]
