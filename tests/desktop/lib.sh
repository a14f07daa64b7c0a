# Sourced by the desktop checks: waiting, checking, and reading Kelvane's
# windows back from the X server. Needs KELVANE set and a virtual desktop
# from scripts/virtual-desktop.sh.
passed=0
failed=0

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

not() { ! "$@"; }
quietly() { "$@" >/dev/null; }

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
    vd_start_tray "$@"
    wait_for 10 panel_window >/dev/null
}

# The window lookups read their input to the end (no grep -q, no awk exit):
# under pipefail, as the Windows checks run, a reader that stops early can
# end the writer with SIGPIPE, and the lookup fails although it matched.
panel_window() { xwininfo -root -tree | awk '/"panel": \("panel" "trayer"\)/ && !n++ {print $1}' | grep .; }

icon_docked() {
    local panel
    panel=$(panel_window) || return 1
    xwininfo -tree -id "$panel" | grep '"Kelvane"' >/dev/null
}

# A window's absolute position and size: "x y width height". Without an id
# xwininfo would wait for a click on a window, so there must be one.
geometry_of() {
    [ -n "$1" ] || return 1
    xwininfo -id "$1" | awk '/Absolute upper-left X/ {x=$NF} /Absolute upper-left Y/ {y=$NF}
        /Width:/ {w=$NF} /Height:/ {h=$NF} END {if (w) print x, y, w, h; else exit 1}'
}

# Clicks the middle of a window, with button $2 (1 unless given).
click_centre() {
    local x y w h
    read -r x y w h < <(geometry_of "$1") || return 1
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click "${2:-1}"
}

# The notification-area icon, in whichever tray docked it: the panel's, or
# a window manager's own (IceWM and Fluxbox have one).
icon_window() {
    xwininfo -root -tree | awk '/"Kelvane": \("kelvane"/ { split($(NF-1), s, "[x+]")
        if (s[1] >= 8 && s[1] <= 64 && s[2] >= 8 && s[2] <= 64) { if (!n++) print $1 } }' | grep .
}

click_icon() { click_centre "$(icon_window)" "${1:-1}"; }

# The popup is the viewable 185 x 81 Kelvane window.
popup_id() {
    xwininfo -root -tree | awk '/"Kelvane": \("kelvane"/ && / 185x81\+/ && !n++ {print $1}' | grep .
}

popup_y() { local x y w h; read -r x y w h < <(geometry_of "$(popup_id)") && echo "$y"; }
popup_x() { local x y w h; read -r x y w h < <(geometry_of "$(popup_id)") && echo "$x"; }

popup_at() { [ "$(popup_y)" = "$1" ]; }
popup_hidden() { local y; y=$(popup_y) && [ "$y" -ge 720 ]; }

viewable_kelvane_windows() {
    for id in $(xwininfo -root -children | awk '/"Kelvane": \("kelvane"/ {print $1}'); do
        xwininfo -id "$id" | grep 'Map State: IsViewable' >/dev/null && echo "$id"
    done | wc -l
}

# The popup's parts, each a point in twips from its corner (the middle of a
# grey block); the popup is 2775 x 1215 twips at any scale.
declare -A popup_part=([masque]="1447 967" [quitter]="2287 967" [credit]="547 967"
    [band]="60 60")
# Clicks a part of a popup whose geometry is "x y width height" ($2 to $5).
click_part() {
    local tx ty
    read -r tx ty <<<"${popup_part[$1]}"
    xdotool mousemove $(($2 + tx * $4 / 2775)) $(($3 + ty * $5 / 1215)) click 1
}
# Clicks a part of the popup where the X server has it.
click_popup() {
    local g
    g=$(geometry_of "$(popup_id)") || return 1
    click_part "$1" $g
}

# The windows the window manager lists as running (a taskbar's entries).
client_list() { xprop -root _NET_CLIENT_LIST | tr -d ',' | cut -s -d# -f2; }
in_client_list() {
    local id=$(($1)) c
    for c in $(client_list); do [ $((c)) = "$id" ] && return 0; done
    return 1
}
not_in_client_list() { ! in_client_list "$1"; }

# Where a client is seen with its frame, as "x y width height": the client
# widened by the frame the window manager says it drew (_NET_FRAME_EXTENTS),
# or else the top-level window it sits in. Mutter's own frame window (GNOME
# 44 and later) also holds invisible borders and a shadow.
frame_geometry_of() {
    local id=$1 x y w h left right top bottom parent
    [ -n "$id" ] || return 1
    read -r x y w h < <(geometry_of "$id") || return 1
    if read -r left right top bottom < <(xprop -id "$id" _NET_FRAME_EXTENTS |
        awk -F' = ' 'NF == 2 {gsub(",", "", $2); print $2}' | grep .); then
        echo $((x - left)) $((y - top)) $((w + left + right)) $((h + top + bottom))
        return
    fi
    while parent=$(xwininfo -children -id "$id" | awk '/Parent window id/ {print $4}') &&
        [ "$parent" != "$(xwininfo -root | awk '/Window id/ {print $4}')" ]; do
        id=$parent
    done
    geometry_of "$id"
}

# Kelvane's own windows of that title (mutter's frames take their clients'
# titles).
kelvane_windows() {
    xdotool search --onlyvisible --name '^Kelvane$' 2>/dev/null | while read -r w; do
        xprop -id "$w" WM_CLASS | grep '"kelvane"' >/dev/null && echo "$w"
    done
}

about_windows() {
    kelvane_windows | while read -r w; do
        xwininfo -id "$w" | grep -q 'Width: 138' && echo "$w"
    done
}
about_id() { about_windows | head -1 | grep .; }
# Its Ok button, and the dialog gone.
close_about() {
    local ax ay
    read -r ax ay _ < <(geometry_of "$(about_id)") &&
        xdotool mousemove $((ax + 68)) $((ay + 68)) click 1 && wait_for 5 not about_id
}

# The About dialog's frame's distance from the centre of the screen, in
# pixels, as "dx dy"; centred within a pixel.
off_centre() {
    local x y w h
    read -r x y w h < <(frame_geometry_of "$(about_id)") &&
        echo $((x - (960 - w) / 2)) $((y - (720 - h) / 2))
}
centred() { local dx dy; read -r dx dy < <(off_centre) && [ "${dx#-}" -le 1 ] && [ "${dy#-}" -le 1 ]; }

icon_gone() { ! xwininfo -root -tree | grep '"Kelvane"' >/dev/null; }
no_leftovers() { ! ls "$XDG_RUNTIME_DIR" | grep -q '^kelvane-'; }

# Waits up to $1 seconds for Kelvane to end (killing it after that, so that a
# failure never hangs the run) and leaves its exit status in status.
ended_within() {
    local ended=0
    # Without a process to wait for there is nothing to end; a pid of 0
    # would make the kill below hit this script's whole process group.
    if [ "${kelvane_pid:-0}" -le 0 ]; then
        status=none
        return 1
    fi
    wait_for "$1" bash -c "! kill -0 $kelvane_pid 2>/dev/null" || ended=1
    [ "$ended" = 1 ] && kill -KILL "$kelvane_pid" 2>/dev/null
    wait "$kelvane_pid"
    status=$?
    return "$ended"
}

# Ends a helper the script started (a panel, a window manager, a terminal):
# asked first, killed when it does not go within 5 s, so that a helper stuck
# in its own exit cannot hang the check.
end_process() {
    kill "$1" 2>/dev/null
    wait_for 5 bash -c "! kill -0 $1 2>/dev/null" || kill -KILL "$1" 2>/dev/null
    wait "$1" 2>/dev/null
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

# Daemons that fork away and helpers the bus starts outlive the processes
# started here: everything that carries the session's tag in its environment
# is ended with it.
tag_session() {
    tag=$$-$BASHPID
    export KELVANE_SESSION_TAG=$tag
}
end_tagged_processes() {
    local environ
    for environ in /proc/[0-9]*/environ; do
        tr '\0' '\n' 2>/dev/null <"$environ" | grep -qx "KELVANE_SESSION_TAG=$tag" &&
            kill -KILL "$(basename "$(dirname "$environ")")" 2>/dev/null
    done
}
# Ends a tagged session, keeping its pictures with its logs.
end_session() {
    end_tagged_processes
    [ -n "${KELVANE_KEEP_LOGS:-}" ] && mkdir -p "$KELVANE_KEEP_LOGS" &&
        rm -f "$KELVANE_KEEP_LOGS"/*.png && cp "$work"/*.png "$KELVANE_KEEP_LOGS/" 2>/dev/null
    vd_cleanup
}

# Prints the tally, with the logs when something failed; true when nothing
# failed.
summary() {
    if [ "$failed" -ne 0 ]; then
        for log in "$work"/*.log; do
            echo "--- $(basename "$log"):"
            tail -n 20 "$log"
        done
    fi
    echo "$passed passed, $failed failed"
    [ "$failed" -eq 0 ]
}
