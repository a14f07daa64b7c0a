#!/usr/bin/env bash
# Measures Kelvane side by side with the baseline Qt tray utility, on a
# virtual X display with a tray host and the stand-in NVML library, and
# prints a Markdown table. Usage: run-benchmarks.sh BUILD_DIR [IDLE_SECONDS]
set -euo pipefail

build=$(cd "${1:?usage: run-benchmarks.sh BUILD_DIR [IDLE_SECONDS]}" && pwd)
idle=${2:-60}
source "$(dirname "$0")/../scripts/virtual-desktop.sh"
vd_session
export LD_LIBRARY_PATH="$build/tests/fakenvml/full"
vd_start_display 960x720
vd_start_tray
sleep 1

now_ns() { date +%s%N; }
# CPU time of all the process's threads in nanoseconds, finer than the
# 10 ms clock ticks of /proc/PID/stat.
cpu_ns() { cat /proc/"$1"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f", s }'; }
hwm_kb() { awk '/VmHWM/ {print $2}' "/proc/$1/status"; }
# Context switches of all the process's threads, voluntary (a wake-up from
# sleep) and not: every one is a wake-up the machine pays for.
switches() { cat /proc/"$1"/task/*/status | awk '/ctxt_switches/ { s += $2 } END { print s }'; }
mapped() { xwininfo -root -children | grep -q "\"$1\": (.*) *185x81+"; }

# Milliseconds from launch to the window being mapped, median of five.
start_time() {
    local name=$1
    shift
    local samples=()
    for _ in 1 2 3 4 5; do
        local t0 pid
        t0=$(now_ns)
        "$@" >/dev/null 2>&1 &
        pid=$!
        until mapped "$name"; do sleep 0.002; done
        samples+=($(( ($(now_ns) - t0) / 1000000 )))
        kill "$pid"
        wait "$pid" 2>/dev/null || true
        sleep 0.3
    done
    printf '%s\n' "${samples[@]}" | sort -n | sed -n 3p
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { if (b == 0 || a !~ /^[0-9.]+$/) print "n/a"; else printf "%.2f", a / b }'; }

kelvane_start=$(start_time Kelvane "$build/kelvane")
baseline_start=$(start_time Baseline "$build/bench/kelvane-baseline")

"$build/kelvane" >/dev/null 2>&1 &
kpid=$!
pids+=($kpid)
# The same Kelvane as a native Wayland client, its popup a layer surface,
# under a headless sway with swaybar's tray, where it was built so; idle over
# the same seconds as the X11 one.
wpid=""
if ldd "$build/kelvane" | grep -q LayerShellQt && command -v sway >/dev/null; then
    printf 'output HEADLESS-1 resolution 960x720\nxwayland disable\nbar {\n position bottom\n tray_output *\n status_command sleep infinity\n}\n' \
        >"$work/sway.conf"
    WLR_BACKENDS=headless WLR_RENDERER=pixman WLR_LIBINPUT_NO_DEVICES=1 \
        dbus-run-session sway -c "$work/sway.conf" >"$work/sway.log" 2>&1 &
    pids+=($!)
    for _ in $(seq 100); do
        socket=$(ls "$XDG_RUNTIME_DIR" | grep -E '^wayland-[0-9]+$' | head -1) && break
        sleep 0.1
    done
    env -u DISPLAY -u QT_QPA_PLATFORM WAYLAND_DISPLAY="$socket" "$build/kelvane" >/dev/null 2>&1 &
    wpid=$!
    pids+=($wpid)
fi
"$build/bench/kelvane-baseline" >/dev/null 2>&1 &
bpid=$!
pids+=($bpid)
"$build/bench/kelvane-floor" >/dev/null 2>&1 &
fpid=$!
pids+=($fpid)
sleep 5
k0=$(cpu_ns $kpid) kw0=$(switches $kpid)
[ -n "$wpid" ] && w0=$(cpu_ns $wpid) ww0=$(switches $wpid)
b0=$(cpu_ns $bpid) bw0=$(switches $bpid)
f0=$(cpu_ns $fpid)
sleep "$idle"
k1=$(cpu_ns $kpid) kw1=$(switches $kpid)
[ -n "$wpid" ] && w1=$(cpu_ns $wpid) ww1=$(switches $wpid)
b1=$(cpu_ns $bpid) bw1=$(switches $bpid)
f1=$(cpu_ns $fpid)
kelvane_wakes=$(awk -v n=$((kw1 - kw0)) -v s="$idle" 'BEGIN { printf "%.1f", n / s }')
baseline_wakes=$(awk -v n=$((bw1 - bw0)) -v s="$idle" 'BEGIN { printf "%.1f", n / s }')
floor_cpu=$(awk -v t=$((f1 - f0)) -v s="$idle" 'BEGIN { printf "%.4f", 100 * t / 1e9 / s }')
kelvane_cpu=$(awk -v t=$((k1 - k0)) -v s="$idle" 'BEGIN { printf "%.4f", 100 * t / 1e9 / s }')
baseline_cpu=$(awk -v t=$((b1 - b0)) -v s="$idle" 'BEGIN { printf "%.4f", 100 * t / 1e9 / s }')
kelvane_hwm=$(hwm_kb $kpid)
baseline_hwm=$(hwm_kb $bpid)
kill $kpid $bpid $fpid
wayland_cpu=n/a wayland_wakes=n/a
if [ -n "$wpid" ]; then
    wayland_cpu=$(awk -v t=$((w1 - w0)) -v s="$idle" 'BEGIN { printf "%.4f", 100 * t / 1e9 / s }')
    wayland_wakes=$(awk -v n=$((ww1 - ww0)) -v s="$idle" 'BEGIN { printf "%.1f", n / s }')
    kill "$wpid"
fi

read -r _ slide_down _ slide_up < <("$build/bench/bench_slide" 2>/dev/null | tr '\n' ' ') || true
tick_ns=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_tick" --benchmark_filter=BM_SamplerTick \
    --benchmark_format=csv 2>/dev/null | awk -F, '/BM_SamplerTick/ {print $3}')
release_ns=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_tick" --benchmark_filter=BM_NvmlRead \
    --benchmark_format=csv 2>/dev/null | awk -F, '/WithRelease/ {print $3}')
slow=$(QT_QPA_PLATFORM=offscreen "$build/bench/bench_slow_driver" 30 2>/dev/null)
slow_field() { awk -v k="$1" '$1 == k { print $2 }' <<<"$slow"; }

# The Windows routes, under Wine in a prefix of their own with the stand-ins.
windows=${KELVANE_WINDOWS_BUILD:-}
routes=""
if [ -n "$windows" ] && [ -f "$windows/bench/bench_routes.exe" ]; then
    export WINEPREFIX="$work/wine" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    wineboot --init >/dev/null 2>&1
    routes=$(wine "$windows/bench/bench_routes.exe" "Z:$windows/tests/fakenvml" 2>/dev/null | tr -d '\r')
    wineserver -k 2>/dev/null || true
fi
route_field() { awk -v r="$1" -v f="$2" '$1 == r { print $f }' <<<"$routes"; }

cat <<EOT
Machine: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2 | sed 's/^ //'), $(nproc) cores; Xvfb 960x720, trayer, stand-in NVML.

| Figure | Kelvane | Baseline | Ratio | Target |
|---|---|---|---|---|
| idle CPU over ${idle} s, popup at rest | ${kelvane_cpu} % | ${baseline_cpu} % | $(ratio "$kelvane_cpu" "$baseline_cpu") | ≤ 1.2 × and ≤ 0.05 % |
| idle CPU of an empty Qt program waking at 2 Hz | ${floor_cpu} % | | | for reference |
| idle wake-ups per second, all threads (context switches) | ${kelvane_wakes} | ${baseline_wakes} | $(ratio "$kelvane_wakes" "$baseline_wakes") | ≤ 1 × |
| idle CPU over ${idle} s as a native Wayland client (sway), against the X11 Kelvane's | ${wayland_cpu} % | ${kelvane_cpu} % | $(ratio "$wayland_cpu" "$kelvane_cpu") | measured |
| idle wake-ups per second as a native Wayland client (sway), against the X11 Kelvane's | ${wayland_wakes} | ${kelvane_wakes} | $(ratio "$wayland_wakes" "$kelvane_wakes") | measured |
| peak resident memory after ${idle} s | ${kelvane_hwm} KiB | ${baseline_hwm} KiB | $(ratio "$kelvane_hwm" "$baseline_hwm") | ≤ 1.1 × |
| start to window mapped (median of 5) | ${kelvane_start} ms | ${baseline_start} ms | $(ratio "$kelvane_start" "$baseline_start") | ≤ 1.2 × |
| one sampler tick through NVML | $(printf '%.0f' "$tick_ns") ns | | | ≤ 20 µs |
| NVML initialise, read, release (power managed GPU) | $(printf '%.0f' "$release_ns") ns | | | measured |
| driver taking 200 ms to initialise, released after every reading (30 s): wall time inside the driver | $(slow_field inside_driver_percent) % | | | ≤ 10 % |
| ... seconds between readings | $(slow_field seconds_between_readings) s | | | ≥ 2 s |
| ... process CPU share | $(slow_field cpu_percent) % | | | measured |
| Windows under Wine: one reading through NVML, opened and let go / kept open | $(route_field NVML 2) / $(route_field NVML 3) µs | | | measured |
| ... through ADL | $(route_field ADL 2) / $(route_field ADL 3) µs | | | measured |
| ... through IGCL | $(route_field IGCL 2) / $(route_field IGCL 3) µs | | | measured |
| ... through the chooser as Kelvane runs it (Wine lists no card: NVML by index) | $(route_field chosen 2) / $(route_field chosen 3) µs | | | measured |
| full slide down (median of 9) | ${slide_down} ms | 85 ms nominal | $(ratio "$slide_down" 85) | ≤ 1.5 × |
| full slide up (median of 9) | ${slide_up} ms | 86 ms nominal | $(ratio "$slide_up" 86) | ≤ 1.5 × |
EOT
