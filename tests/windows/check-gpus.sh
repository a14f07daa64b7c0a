#!/usr/bin/env bash
# The Windows build's cards as Windows lists them: a display adapter staged
# in Wine's device tree (it lasts as long as the session's wineserver), read
# through its maker's stand-in library, and left alone while it sleeps. Wine
# has no graphics kernel query for temperatures, so AMD and Intel cards are
# read through ADL and IGCL.
set -uo pipefail
exe=${1:?usage: check-gpus.sh KELVANE_EXE PROBE_EXE PREFIX ADL_DLL IGCL_DLL}
probe_exe=${2:?}
export WINEPREFIX=${3:?}
adl=${4:?}
igcl=${5:?}
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../../scripts/virtual-desktop.sh"
KELVANE=$exe
source "$here/../desktop/lib.sh"
source "$here/lib.sh"

vd_session
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
system=$WINEPREFIX/drive_c/windows/system32
cp "$adl" "$system/atiadlxx.dll"
cp "$igcl" "$system/ControlLib.dll"
trap 'wineserver -k 2>/dev/null; rm -f "$system/atiadlxx.dll" "$system/ControlLib.dll"; vd_cleanup' EXIT
vd_start_display 960x720
calls=$work/calls.log
calls_now() { wc -l <"$calls"; }
both_read() { [ "$(probe labels | grep -cx -e "$1")" = 2 ]; }

# maker vendor device bus, the card's name and the temperature it reads
while read -r maker vendor device bus degrees card; do
    wineserver -k 2>/dev/null
    : >"$calls"
    check "$maker: an adapter on bus $bus is staged" probe stage "$vendor" "$device" "$bus" 00 "$card"
    env FAKENVML_SCRIPT="$degrees" FAKENVML_CALLS_FILE="Z:$calls" FAKEADL_BUS=$((10#$bus)) \
        FAKEADL_MILLIDEGREES="${degrees}000" FAKEADL_CALLS_FILE="Z:$calls" \
        FAKEIGCL_DEVICE="$device" FAKEIGCL_CELSIUS="$degrees" FAKEIGCL_CALLS_FILE="Z:$calls" \
        wine "$exe" >"$work/kelvane-$maker.log" 2>&1 &
    kelvane_pid=$!
    pids+=($kelvane_pid)
    check "... its temperature shows" wait_for 30 both_read "$degrees°c"
    [ "$maker" = NVIDIA ] &&
        check "... read through NVML by its bus id" grep -qx "0000:$bus:00.0" "$calls"

    probe power "$card" 4
    check "... in D3 it shows --°c" wait_for 5 reads '--°c'
    before=$(calls_now)
    sleep 5 # what is checked is that nothing happens meanwhile
    check "... and nothing calls its library for 5 s" test "$(calls_now)" = "$before"
    check "... and the peak stays" reads "$degrees°c"
    probe power "$card" 1
    check "... back in D0 it reads again within 2 s" wait_for 2 both_read "$degrees°c"

    probe logoff
    check "... Kelvane ends with status 0" ended_within 10
    check "... having named the sleep once" \
        test "$(grep -c "$card is asleep (D3)" "$work/kelvane-$maker.log")" = 1
done <<'CARDS'
NVIDIA 10DE 2204 01 61 NVIDIA GeForce Test
AMD 1002 747E 03 55 AMD Radeon Test
Intel 8086 56A0 04 47 Intel Arc Test
CARDS

# No library at all, and Wine's graphics kernel reads nothing: no number, and
# the first route's reason, said once.
wineserver -k 2>/dev/null
rm "$system/atiadlxx.dll" "$system/ControlLib.dll"
probe stage 1002 747E 03 00 "AMD Radeon Test"
wine "$exe" >"$work/nothing.log" 2>&1 &
kelvane_pid=$!
pids+=($kelvane_pid)
check "with no library for its card the popup shows --°c" wait_for 30 both_read '--°c'
check "... and Kelvane keeps running" kill -0 "$kelvane_pid"
# Wine 8 has no adapter query; Wine 10 has one, which gives the staged card
# no data, as an old driver's Windows would.
said_why_once() {
    case $(tr -d '\r' <"$work/nothing.log") in
    "kelvane: no GPU temperature: AMD Radeon Test: Windows has no D3DKMTQueryAdapterInfo (Windows 10 1803 or later reads GPU temperatures)") ;;
    "kelvane: no GPU temperature: AMD Radeon Test gives no performance data to Windows (its driver predates WDDM 2.4)") ;;
    *) return 1 ;;
    esac
}
check "... having said why once" said_why_once
probe logoff
ended_within 10
summary
