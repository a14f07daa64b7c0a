#!/usr/bin/env bash
# Makes the two Wine prefixes the Windows tests run in, at 96 and 144 dpi,
# each with the stand-in NVML library in its system folder; or, with --stop,
# stops their Wine servers so that nothing is left running.
set -euo pipefail
root=${1:?usage: prepare-prefixes.sh ROOT NVML_DLL | ROOT --stop}
what=${2:?usage: prepare-prefixes.sh ROOT NVML_DLL | ROOT --stop}
# Without winemenubuilder, which would write Wine's file associations and
# menus into the home folder of whoever runs the tests.
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"

for dpi in 96 144; do
    export WINEPREFIX=$root/$dpi
    if [ "$what" = "--stop" ]; then
        [ -d "$WINEPREFIX" ] && wineserver -k 2>/dev/null || true
        continue
    fi
    if [ ! -f "$WINEPREFIX/system.reg" ]; then
        mkdir -p "$WINEPREFIX"
        wineboot --init >/dev/null 2>&1
    fi
    wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f \
        >/dev/null 2>&1
    cp "$what" "$WINEPREFIX/drive_c/windows/system32/nvml.dll"
    wineserver -w
done
