#!/usr/bin/env bash
# Kelvane under GNOME Shell 43 as Ubuntu ships it (X11, the AppIndicator
# extension as its notification area), SESSIONS sessions one after another
# (3 unless given), each with a private home, session bus and an empty
# private system bus (the shell dies without one).
set -u

KELVANE=${1:?usage: run-gnome-tests.sh path/to/kelvane [sessions]}
sessions=${2:-3}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
source "$here/lib.sh"

bus_call() { dbus-send --session --print-reply "$@" 2>/dev/null; }
shell_up() { bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetNameOwner string:org.gnome.Shell >/dev/null; }
extension_active() {
    bus_call --dest=org.gnome.Shell /org/gnome/Shell org.gnome.Shell.Extensions.GetExtensionInfo \
        string:ubuntu-appindicators@ubuntu.com | grep -A1 '"state"' | grep 'double 1' >/dev/null
}
# Kelvane's connection, by its process.
item_name() {
    local name
    for name in $(bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.ListNames | grep -o '":[0-9.]*"' | tr -d '"'); do
        bus_call --dest=org.freedesktop.DBus / org.freedesktop.DBus.GetConnectionUnixProcessID \
            string:"$name" | grep "uint32 $kelvane_pid\$" >/dev/null && echo "$name"
    done | grep .
}
item_listed() {
    local name
    name=$(item_name) || return 1
    bus_call --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher org.freedesktop.DBus.Properties.Get \
        string:org.kde.StatusNotifierWatcher string:RegisteredStatusNotifierItems | grep "\"$name@" >/dev/null
}
# The icon in the top bar: the thermometer's red bulb, right of the clock.
icon_point() {
    import -window root -crop 380x32+560+0 txt:- 2>/dev/null | awk -F'[,: ()]+' \
        'NR > 1 && $3 > 150 && $4 < 90 && $5 < 90 { print $1 + 560, $2; n++; exit }
         END { if (!n) exit 1 }'
}
icon_drawn() { icon_point >/dev/null; }
# $1: xdotool's click arguments (button 1 unless given).
click_top_bar_icon() { local x y; read -r x y < <(icon_point) && xdotool mousemove "$x" "$y" click ${1:-1}; }
windows_now() { xwininfo -root -children | grep -c '^ *0x'; }

session() {
    vd_session
    export HOME=$work/home XDG_CONFIG_HOME=$work/home/.config XDG_DATA_HOME=$work/home/.local/share
    mkdir -p -m 700 "$HOME"
    vd_start_server Xvfb -screen 0 960x720x24 -dpi 96 +extension GLX || return 1
    vd_start_session_bus
    cat >"$work/system.conf" <<'CONF'
<!DOCTYPE busconfig PUBLIC "-//freedesktop//DTD D-BUS Bus Configuration 1.0//EN"
 "http://www.freedesktop.org/standards/dbus/1.0/busconfig.dtd">
<busconfig><type>system</type><listen>unix:tmpdir=/tmp</listen><auth>EXTERNAL</auth>
<policy context="default"><allow send_destination="*" eavesdrop="true"/><allow eavesdrop="true"/>
<allow own="*"/><allow user="*"/></policy>
</busconfig>
CONF
    dbus-daemon --config-file="$work/system.conf" --fork --print-address=3 --print-pid=4 \
        3>"$work/system-bus" 4>"$work/system-bus.pid"
    export DBUS_SYSTEM_BUS_ADDRESS=$(cat "$work/system-bus")
    pids+=($(cat "$work/system-bus.pid"))
    export XDG_SESSION_TYPE=x11 XDG_CURRENT_DESKTOP=ubuntu:GNOME
    dbus-update-activation-environment --all 2>/dev/null
    gsettings set org.gnome.shell disable-user-extensions false
    gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
    gnome-shell --x11 --replace >"$work/gnome-shell.log" 2>&1 &
    pids+=($!)
    check "GNOME Shell starts with the AppIndicator extension" wait_for 30 extension_active
    # It starts in the overview.
    sleep 2
    xdotool key Escape
    unset QT_QPA_PLATFORM
    env QT_QPA_PLATFORM=xcb "$KELVANE" >"$work/kelvane.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    check "the popup rests at 775,609, on the screen's bottom" wait_for 10 popup_at 609
    check "the item is listed in the top bar" wait_for 10 item_listed
    check "the icon is drawn there" wait_for 5 icon_drawn
    # The extension dropped the item about 1.4 s after taking it.
    sleep 3
    check "... and still is 3 s later" item_listed
    click_popup masque
    check "Masqué slides the popup off the screen" wait_for 5 popup_hidden
    click_top_bar_icon
    check "a left click on the icon brings it back to 608" wait_for 5 popup_at 608
    local before
    before=$(windows_now)
    click_top_bar_icon 3
    check "a right click on the icon opens no window" not wait_for 1 test "$(windows_now)" != "$before"
    click_popup masque
    check "... and the next click, on Masqué, works at once" wait_for 5 popup_hidden
    # The extension activates an item without a menu on a double click
    # once it has activated it (the first click counts its release too).
    click_top_bar_icon "--repeat 2 1"
    check "later a double click on the icon brings it back" wait_for 5 popup_at 608
    click_popup quitter
    check "Quitter ends the program" ended_within 5
    check "... with status 0" test "$status" = 0
    check "... and takes the icon away" wait_for 5 not icon_drawn
}

for n in $(seq "$sessions"); do
    echo "session $n:"
    ( session; summary ) || failed=$((failed + 1))
done
echo "$((sessions - failed)) of $sessions sessions passed"
[ "$failed" -eq 0 ]
