#!/usr/bin/env bash
# Drives Kelvane hard for a while and checks that it does not grow: resident
# memory within 1 MiB of its value after warm-up, and the same number of
# open descriptors and X resources. Usage: soak.sh BUILD_DIR [SECONDS]
set -euo pipefail

build=$(cd "${1:?usage: soak.sh BUILD_DIR [SECONDS]}" && pwd)
seconds=${2:-600}
source "$(dirname "$0")/../scripts/virtual-desktop.sh"
vd_session
export LD_LIBRARY_PATH="$build/tests/fakenvml/full"
vd_start_display 960x720
vd_start_tray
sleep 1

# The X server's count of the client's resources, by kind, on one line.
x_resources() {
    xrestop -b -m 1 2>/dev/null | awk -v pid="PID:$1 " '
        /^[0-9]+ - / { mine = index($0, pid) > 0 }
        mine && /windows|GCs|pixmaps|pictures|glyphsets|cursors|fonts/ {
            gsub(/[ \t]/, ""); printf "%s ", $0 }'
}

"$build/bench/kelvane-soak" "$seconds" >"$work/soak.log" 2>"$work/soak.err" &
soak=$!
pids+=($soak)
echo "Soaking for $seconds s (warm-up: $(( seconds / 10 > 30 ? seconds / 10 : 30 )) s)..."

until grep -q '^WARM' "$work/soak.log"; do sleep 1; kill -0 $soak || exit 1; done
warm_x=$(x_resources $soak)
until grep -q '^END' "$work/soak.log"; do sleep 1; kill -0 $soak || exit 1; done
end_x=$(x_resources $soak)
wait $soak
status=$?

warm_rss=$(sed -n 's/^WARM rss_kb=\([0-9]*\).*/\1/p' "$work/soak.log")
end_rss=$(sed -n 's/^END rss_kb=\([0-9]*\).*/\1/p' "$work/soak.log")
warm_fds=$(sed -n 's/^WARM.*fds=\([0-9]*\)/\1/p' "$work/soak.log")
end_fds=$(sed -n 's/^END.*fds=\([0-9]*\)/\1/p' "$work/soak.log")

cat <<EOT
| Figure | After warm-up | At the end | Verdict |
|---|---|---|---|
| resident memory | ${warm_rss} KiB | ${end_rss} KiB | $( [ $((end_rss - warm_rss)) -le 1024 ] && echo "within 1 MiB" || echo "GREW" ) |
| open descriptors | ${warm_fds} | ${end_fds} | $( [ "$warm_fds" = "$end_fds" ] && echo same || echo "CHANGED" ) |
| X resources | ${warm_x} | ${end_x} | $( [ "$warm_x" = "$end_x" ] && echo same || echo "CHANGED" ) |
EOT
echo "Exit status: $status"
[ "$status" -eq 0 ] && [ $((end_rss - warm_rss)) -le 1024 ] && [ "$warm_fds" = "$end_fds" ] && [ "$warm_x" = "$end_x" ]
