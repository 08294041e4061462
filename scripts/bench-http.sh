#!/usr/bin/env bash
# Download benchmark: a file from a loopback HTTP server fetched by HttpRequest into memory
# (x86-64, under Wine), by HttpRequestToFile streaming it to a file (as patch files and the
# game data package are), the same checked against a signed size and SHA-256 (a launcher
# with UpdateKey), by HttpRequest reporting to the launcher's real main window (under
# Xvfb), by a bare WinHTTP loop that drops the bytes, by that loop keeping them in one
# reservation of the announced size (what holding the body costs before HttpRequest does
# anything) and by curl, in the same run; prints the rates (best and median), their ratios
# (signed / unsigned streamed among them) and the peak memory of the Wine program in memory,
# streamed and streamed with the signed digest.
# Usage: scripts/bench-http.sh [MiB, default 256] [runs, default 3]
# QELT_BENCH_BUSY=1 keeps a `nice -n 19 yes` running meanwhile: on a virtual machine whose
# idle CPUs are slow to wake, a read loop that waits on every piece is then measured without
# that wake-up time (and a second thread, as the signed digest's, no longer hides it).
set -eu
cd "$(dirname "$0")/.."
mib=${1:-256}
runs=${2:-3}

bash scripts/deps.sh bench
cmake --preset windows-x64 -DQELT_BUILD_BENCH=ON >build/configure-windows-x64.log 2>&1 || { cat build/configure-windows-x64.log; exit 1; }
cmake --build --preset windows-x64 -j 2 --target qelt_http_bench qelt_http_window_bench >/dev/null
bench_exe=build/windows-x64/bench/qelt_http_bench.exe
window_exe=build/windows-x64/bench/qelt_http_window_bench.exe

source scripts/wine-env.sh
source scripts/file-server.sh
qelt_wine_session_start

work=$(mktemp -d)
server_pid=""
busy_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    [ -n "$busy_pid" ] && kill "$busy_pid" 2>/dev/null
    qelt_wine_session_stop
    rm -rf "$work"
}
trap cleanup EXIT

head -c $((mib * 1048576)) /dev/urandom >"$work/body.bin"
digest=$(sha256sum "$work/body.bin" | cut -c1-64)
printf 'x' >"$work/one.bin"
qelt_file_server "$work" "$work/server.log" ||
    { echo "the file server did not start"; cat "$work/server.log"; exit 1; }
url="http://127.0.0.1:$port/body.bin"
if [ "${QELT_BENCH_BUSY:-0}" = 1 ]; then
    nice -n 19 yes >/dev/null &
    busy_pid=$!
fi

field() { # field <name> <file>: the value after a name in the program's one-line report
    awk -v n="$1" '{ for (i = 1; i < NF; i++) if ($i == n) print $(i + 1) }' "$2"
}
max() { awk -v a="$1" -v b="$2" 'BEGIN { print (b > a ? b : a) }'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }
rss_kib() { awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print $2 }' "$1"; }

best_curl=0
best_bare=0
best_keep=0
best_ours=0
best_window=0
best_file=0
best_signed=0
peak_kib=0
file_peak_kib=0
signed_peak_kib=0
ours_all=""
file_all=""
signed_all=""
ratio_all=""
signed_ratio_all=""
for run in $(seq "$runs"); do
    rate=$(curl -s -o /dev/null -w '%{speed_download}' "$url")
    curl_mib=$(awk -v r="$rate" 'BEGIN { printf "%.1f", r / 1048576 }')
    "$QELT_WINE" "$bench_exe" --bare "$url" >"$work/bare.txt" 2>/dev/null
    bare_mib=$(field rate_mib_s "$work/bare.txt")
    "$QELT_WINE" "$bench_exe" --bare-keep "$url" >"$work/keep.txt" 2>/dev/null
    keep_mib=$(field rate_mib_s "$work/keep.txt")
    /usr/bin/time -v -o "$work/time.txt" "$QELT_WINE" "$bench_exe" "$url" "body.bin" >"$work/ours.txt" 2>/dev/null
    ours_mib=$(field rate_mib_s "$work/ours.txt")
    bytes=$(field bytes "$work/ours.txt")
    [ "$bytes" = $((mib * 1048576)) ] || { echo "HttpRequest got $bytes bytes"; cat "$work/ours.txt"; exit 1; }
    kib=$(rss_kib "$work/time.txt")
    # Streamed into a file in the same folder as the served one: on disk, as a client folder is.
    rm -f "$work/streamed.bin"
    /usr/bin/time -v -o "$work/time.txt" "$QELT_WINE" "$bench_exe" --file "Z:$work/streamed.bin" "$url" "body.bin" >"$work/file.txt" 2>/dev/null
    file_mib=$(field rate_mib_s "$work/file.txt")
    [ "$(field bytes "$work/file.txt")" = $((mib * 1048576)) ] || { echo "the streamed run failed"; cat "$work/file.txt"; exit 1; }
    cmp -s "$work/streamed.bin" "$work/body.bin" || { echo "the streamed file differs"; exit 1; }
    file_kib=$(rss_kib "$work/time.txt")
    # The same with the signed size and SHA-256 checked while it streams in.
    rm -f "$work/signed.bin"
    /usr/bin/time -v -o "$work/time.txt" "$QELT_WINE" "$bench_exe" --signed-file "Z:$work/signed.bin" \
        $((mib * 1048576)) "$digest" "$url" "body.bin" >"$work/signed.txt" 2>/dev/null
    signed_mib=$(field rate_mib_s "$work/signed.txt")
    [ "$(field bytes "$work/signed.txt")" = $((mib * 1048576)) ] || { echo "the signed run failed"; cat "$work/signed.txt"; exit 1; }
    cmp -s "$work/signed.bin" "$work/body.bin" || { echo "the signed file differs"; exit 1; }
    signed_kib=$(rss_kib "$work/time.txt")
    "$QELT_WINE" "$window_exe" "$url" "body.bin" >"$work/window.txt" 2>/dev/null
    window_mib=$(field rate_mib_s "$work/window.txt")
    [ "$(field bytes "$work/window.txt")" = $((mib * 1048576)) ] || { echo "the window run failed"; cat "$work/window.txt"; exit 1; }
    echo "run $run: curl $curl_mib MiB/s, bare WinHTTP $bare_mib MiB/s, bare keeping the body $keep_mib MiB/s, HttpRequest $ours_mib MiB/s, streamed to a file $file_mib MiB/s, signed $signed_mib MiB/s, with window $window_mib MiB/s, peak RSS $((kib / 1024)) MiB in memory, $((file_kib / 1024)) MiB streamed, $((signed_kib / 1024)) MiB signed"
    ours_all="$ours_all $ours_mib"
    file_all="$file_all $file_mib"
    ratio_all="$ratio_all $(awk -v f="$file_mib" -v o="$ours_mib" 'BEGIN { printf "%.3f", f / o }')"
    signed_all="$signed_all $signed_mib"
    signed_ratio_all="$signed_ratio_all $(awk -v s="$signed_mib" -v f="$file_mib" 'BEGIN { printf "%.3f", s / f }')"
    best_file=$(max "$best_file" "$file_mib")
    best_signed=$(max "$best_signed" "$signed_mib")
    [ "$file_kib" -gt "$file_peak_kib" ] && file_peak_kib=$file_kib
    [ "$signed_kib" -gt "$signed_peak_kib" ] && signed_peak_kib=$signed_kib
    best_window=$(max "$best_window" "$window_mib")
    best_curl=$(max "$best_curl" "$curl_mib")
    best_bare=$(max "$best_bare" "$bare_mib")
    best_keep=$(max "$best_keep" "$keep_mib")
    best_ours=$(max "$best_ours" "$ours_mib")
    [ "$kib" -gt "$peak_kib" ] && peak_kib=$kib
done

/usr/bin/time -v -o "$work/time.txt" "$QELT_WINE" "$bench_exe" "http://127.0.0.1:$port/one.bin" >/dev/null 2>&1
fixed_kib=$(rss_kib "$work/time.txt")
rm -f "$work/one-streamed.bin"
/usr/bin/time -v -o "$work/time.txt" "$QELT_WINE" "$bench_exe" --file "Z:$work/one-streamed.bin" "http://127.0.0.1:$port/one.bin" >/dev/null 2>&1
fixed_file_kib=$(rss_kib "$work/time.txt")
median_ours=$(echo "$ours_all" | median)
median_file=$(echo "$file_all" | median)
median_ratio=$(echo "$ratio_all" | median)
median_signed=$(echo "$signed_all" | median)
median_signed_ratio=$(echo "$signed_ratio_all" | median)

echo
echo "body $mib MiB, best of $runs runs"
echo "curl -o /dev/null:           $best_curl MiB/s"
echo "bare WinHTTP loop (Wine):    $best_bare MiB/s"
echo "bare loop keeping the body:  $best_keep MiB/s"
echo "HttpRequest (Wine):          $best_ours MiB/s"
echo "streamed to a file (Wine):   $best_file MiB/s"
echo "streamed, signed (Wine):     $best_signed MiB/s"
echo "HttpRequest + main window:   $best_window MiB/s"
awk -v a="$best_ours" -v b="$best_curl" -v c="$best_bare" -v w="$best_window" -v k="$best_keep" \
    'BEGIN { printf "HttpRequest / curl:          %.2f\nHttpRequest / bare WinHTTP:  %.2f\nwith window / bare WinHTTP:  %.2f\nkeeping / bare WinHTTP:      %.2f\nHttpRequest / bare keeping:  %.2f\n", a / b, a / c, w / c, k / c, a / k }'
echo "medians of $runs runs:        HttpRequest $median_ours MiB/s, streamed $median_file MiB/s"
awk -v f="$median_file" -v o="$median_ours" -v r="$median_ratio" \
    'BEGIN { printf "streamed / in memory:        %.2f (ratio of medians), %.2f (median of per-run ratios)\n", f / o, r }'
echo "peak RSS:                    $((peak_kib / 1024)) MiB (1-byte download: $((fixed_kib / 1024)) MiB)"
echo "peak RSS streamed:           $((file_peak_kib / 1024)) MiB (1-byte download: $((fixed_file_kib / 1024)) MiB), signed $((signed_peak_kib / 1024)) MiB"
echo "medians of $runs runs:        streamed $median_file MiB/s, signed $median_signed MiB/s"
awk -v s="$median_signed" -v f="$median_file" -v r="$median_signed_ratio" \
    'BEGIN { printf "signed / unsigned streamed:  %.2f (ratio of medians), %.2f (median of per-run ratios)\n", s / f, r }'
awk -v p="$peak_kib" -v f="$fixed_kib" -v m="$mib" \
    'BEGIN { printf "(peak - 1-byte peak) / body: %.2f\n", (p - f) / 1024 / m }'
