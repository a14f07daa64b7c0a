#!/usr/bin/env bash
# Kelvane's icon on a StatusNotifierItem panel that starts after Kelvane, as
# an autostarted Kelvane meets it, on a private session bus: Debian's
# status-notifier-watcher and gtk-sni-tray-standalone, with trayer as an
# XEmbed tray beside them.
set -u

KELVANE=${1:?usage: run-sni-tests.sh path/to/kelvane}
here=$(cd "$(dirname "$0")" && pwd)

source "$here/../../scripts/virtual-desktop.sh"
vd_session
vd_start_display 960x720 || exit 1
source "$here/lib.sh"

vd_start_session_bus

# Kelvane's item goes by its connection's own name, which the bus tells by
# its process.
watcher() { dbus-send --session --print-reply --dest=org.kde.StatusNotifierWatcher /StatusNotifierWatcher "$@"; }
registered_items() {
    watcher org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierWatcher \
        string:RegisteredStatusNotifierItems 2>/dev/null | grep -o ':[0-9.]*'
}
item_name() {
    local name
    for name in $(dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
        org.freedesktop.DBus.ListNames | grep -o '":[0-9.]*"' | tr -d '"'); do
        dbus-send --session --print-reply --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.GetConnectionUnixProcessID string:"$name" 2>/dev/null |
            grep -q "uint32 $kelvane_pid\$" && echo "$name"
    done | grep .
}
item_registered() { registered_items | grep -qx "$(item_name)"; }
call_item() {
    dbus-send --session --print-reply --dest="$(item_name)" \
        /StatusNotifierItem "org.kde.StatusNotifierItem.$1" int32:0 int32:0 >/dev/null
}
start_watcher() {
    status-notifier-watcher >"$work/watcher.log" 2>&1 &
    watcher_pid=$!
    pids+=($watcher_pid)
}
hide_popup() { click_popup masque && wait_for 5 popup_at 722; }

start_tray
start_kelvane "$work/kelvane.log"
check "with only an XEmbed tray, the icon docks there" icon_docked

start_watcher
check "a watcher that starts later gets the icon within a second or two" wait_for 2 item_registered
check "... and the XEmbed tray lets it go: one host at a time" wait_for 2 not icon_docked

gtk-sni-tray-standalone >"$work/sni-tray.log" 2>&1 &
pids+=($!)
# The tray draws its icons from the left of its strip along the top; the
# thermometer's stem is red where the first one sits.
icon_drawn() { import -window root -crop 1x1+15+15 txt:- 2>/dev/null | grep -qv 'black\|#000000'; }
check "the panel draws the icon" wait_for 10 icon_drawn
hide_popup
# Clicked again if the panel was not listening yet when it drew the icon.
click_drawn_icon() { xdotool mousemove 15 15 click 1 && wait_for 2 popup_at 608; }
check "a left click on the drawn icon brings the popup back" wait_for 6 click_drawn_icon

# Hosts take any Menu path for a menu to show (GNOME Shell's extension,
# which needs one, is its own check's).
item_properties() {
    dbus-send --session --print-reply --dest="$(item_name)" /StatusNotifierItem \
        org.freedesktop.DBus.Properties.GetAll string:org.kde.StatusNotifierItem
}
no_menu() {
    item_properties | grep '"IconPixmap"' >/dev/null && ! item_properties | grep '"Menu"' >/dev/null &&
        ! dbus-send --session --print-reply --dest="$(item_name)" /StatusNotifierItem \
            org.freedesktop.DBus.Properties.Get string:org.kde.StatusNotifierItem string:Menu 2>/dev/null
}
check "the item shows its icon and no Menu property to a host" no_menu

hide_popup
call_item Activate
check "Activate brings the popup back" wait_for 5 popup_at 608

hide_popup
call_item ContextMenu
check "ContextMenu does nothing" not wait_for 1 popup_at 608

call_item Activate
kill "$watcher_pid"
check "without a watcher the icon docks in the XEmbed tray again" wait_for 5 icon_docked
start_watcher
check "a restarted watcher gets the icon again" wait_for 5 item_registered
check "... and the XEmbed tray lets it go" wait_for 2 not icon_docked

# A host that drops the item while its watcher stays, as GNOME Shell's
# AppIndicator extension did with an item it could not read.
offered() { [ "$(grep -c "^registered" "$dropping_log")" = "$1" ]; }
dropping_watcher() {
    kill "$watcher_pid"
    wait_for 5 icon_docked
    "$here/dropping-watcher.py" "$1" >"$work/dropping$1.log" 2>&1 &
    dropping_log=$work/dropping$1.log
    watcher_pid=$!
    pids+=($watcher_pid)
}
dropping_watcher 1
check "a host that drops the item once gets it again" wait_for 5 offered 2
check "... and keeps it: the XEmbed tray lets it go" wait_for 2 not icon_docked
dropping_watcher -1
check "a host that drops it every time is offered it four times in all" wait_for 10 offered 4
check "... then no more" not wait_for 3 offered 5
kill "$watcher_pid"
check "without that watcher the icon docks in the XEmbed tray" wait_for 5 icon_docked
start_watcher
check "a new watcher gets the item again" wait_for 5 item_registered

# Quitter where the popup is, once the last Activate has brought it back.
wait_for 5 popup_at 608
click_popup quitter
check "Quitter ends the program" ended_within 5
check "... and the watcher forgets the icon" wait_for 5 not item_registered

summary
