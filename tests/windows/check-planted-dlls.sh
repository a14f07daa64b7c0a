#!/usr/bin/env bash
# Libraries named like the ones system libraries load on a program's behalf,
# planted beside kelvane.exe and in the current folder, as a .zip extracted
# into Downloads would have them: none of them may run inside Kelvane. Wine
# is told to prefer such a library to its own wherever it finds one.
set -uo pipefail
exe=${1:?usage: check-planted-dlls.sh KELVANE_EXE PROBE_EXE MARKER_DIR PREFIX}
probe_exe=${2:?}
markers=${3:?}
prefix=${4:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
KELVANE=unused
source "$here/../desktop/lib.sh"
source "$here/lib.sh"

vd_session
names=()
for dll in "$markers"/*.dll; do names+=("$(basename "$dll" .dll)"); done
overrides=$(IFS=,; echo "${names[*]}")
export WINEDEBUG=-all WINEPREFIX=$prefix WINEDLLOVERRIDES="mscoree,mshtml=;$overrides=n,b"
mkdir -p "$work/app" "$work/cwd" "$work/ran"
cp "$exe" "$probe_exe" "$markers"/*.dll "$work/app/"
cp "$markers"/*.dll "$work/cwd/"
winpath() { echo "Z:${1//\//\\}"; }
export KELVANE_MARKER_DIR=$(winpath "$work/ran")

# What the loader brings in before any of Kelvane's code runs: libraries
# known to the system alone, never looked for beside the program.
imports=$(x86_64-w64-mingw32-objdump -p "$exe" | awk '/DLL Name:/ {print $3}' | sort | tr '\n' ' ')
check "kelvane.exe imports only KERNEL32 and msvcrt (got: $imports)" test "$imports" = "KERNEL32.dll msvcrt.dll "

vd_start_display 960x720
# An AMD and an Intel card, so that Kelvane goes for their makers' libraries
# too (Wine's graphics kernel reads neither).
probe stage 1002 747E 03 00 "AMD Radeon Test"
probe stage 8086 56A0 04 00 "Intel Arc Test"
start_tray
(cd "$work/cwd" && exec wine "$work/app/kelvane.exe") >"$work/kelvane.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)
check "Kelvane starts beside the planted libraries" wait_for 30 at 609
check "its icon docks (the shell's library is in)" wait_for 30 icon_here
click_popup masque
check "Masqué slides the popup away" wait_for 20 at 722
(cd "$work/cwd" && wine "$work/app/kelvane.exe" >/dev/null 2>&1)
check "a second start from the same folder brings it back" wait_for 20 at 608
click_popup quitter
check "Quitter ends Kelvane" ended_within 20
check "... with status 0" test "$status" = 0
check "no planted library ran inside Kelvane" test -z "$(ls "$work/ran")"
[ -n "$(ls "$work/ran")" ] && echo "ran: $(ls "$work/ran" | tr '\n' ' ')"

# The check above means something only if the planted libraries do run
# where a program loads them the old way.
for name in "${names[@]}"; do
    (cd "$work/cwd" && wine "$work/app/$(basename "$probe_exe")" load "$name" >/dev/null 2>&1)
done
check "each planted library runs in a program that loads it the old way" \
    test "$(ls "$work/ran" | wc -l)" = "${#names[@]}"
wineserver -k 2>/dev/null
summary
