#!/usr/bin/env bash
# The Windows build's cards as Windows lists them: a display adapter staged
# in Wine's device tree (it lasts as long as this session's wineserver), read
# through the stand-in NVML by its bus id, and left alone while it sleeps.
set -uo pipefail
exe=${1:?usage: check-gpus.sh KELVANE_EXE PROBE_EXE PREFIX}
probe_exe=${2:?}
export WINEPREFIX=${3:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
KELVANE=$exe
source "$here/../desktop/lib.sh"
source "$here/lib.sh"

vd_session
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
wineserver -k 2>/dev/null
trap 'wineserver -k 2>/dev/null; vd_cleanup' EXIT
vd_start_display 960x720
card="NVIDIA GeForce Test"
calls=$work/calls.log
touch "$calls"
calls_now() { wc -l <"$calls"; }
listed_awake() { probe adapters | grep -x "$card: power 1" >/dev/null; }
both_read() { [ "$(probe labels | grep -cx "$1")" = 2 ]; }

check "an NVIDIA adapter on bus 1 is staged" probe stage 10DE 2204 01 00 "$card"
check "... and listed, in D0" listed_awake

env FAKENVML_SCRIPT=61 FAKENVML_CALLS_FILE="Z:$calls" wine "$exe" >"$work/kelvane.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)
check "its temperature shows" wait_for 30 both_read '61°c'
check "... read through NVML by its bus id" grep -qx '0000:01:00.0' "$calls"

probe power "$card" 4
check "in D3 it shows --°c" wait_for 5 reads '--°c'
before=$(calls_now)
sleep 5 # what is checked is that nothing happens meanwhile
check "... and nothing calls NVML for 5 s" test "$(calls_now)" = "$before"
check "... and the peak stays" reads '61°c'

probe power "$card" 1
check "back in D0 it reads again within 2 s" wait_for 2 both_read '61°c'

probe logoff
check "Kelvane ends with status 0" ended_within 10
check "... having named the sleep once" test "$(grep -c 'asleep (D3)' "$work/kelvane.log")" = 1
summary
