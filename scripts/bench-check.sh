#!/usr/bin/env bash
# Check-phase benchmark: the time from starting Launcher.exe (x86-64, under Wine and Xvfb)
# until it shows the online text, with every file current and the page cache warm, against
# a native read + CRC-32 (zlib) of the same files, in one run, for 0 files (the start-up
# floor), 4,000 files of 32 KiB, 20,000 files of 4 KiB and one 1 GiB file. Also in each run:
# the same files through a bare Win32 loop under Wine (bench/wine_check.cpp: the check phase's
# calls and two threads, no window), that loop only opening and closing each file (what Wine
# charges per file before the launcher does anything), and the launcher with QuickCheck=1
# and its record in place (written by an untimed run; the files are dated an hour back, so
# none is too recent for the record to vouch for). Prints the best and the median of the runs.
# Usage: scripts/bench-check.sh [runs, default 3] [Launcher.exe to time instead of this build's]
set -eu
cd "$(dirname "$0")/.."
runs=${1:-3}
launcher=${2:-}

bash scripts/deps.sh bench
cmake --preset windows-x64 -DQELT_BUILD_BENCH=ON >build/configure-windows-x64.log 2>&1 || { cat build/configure-windows-x64.log; exit 1; }
cmake --build --preset windows-x64 -j 2 --target Launcher qelt_check_bench qelt_wine_check >/dev/null
[ -n "$launcher" ] || launcher=build/windows-x64/Launcher.exe
bench_exe=build/windows-x64/bench/qelt_check_bench.exe
wine_check=build/windows-x64/bench/qelt_wine_check.exe

source scripts/wine-env.sh
source scripts/file-server.sh
work=$(mktemp -d)
server_pid=""
cleanup() {
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    qelt_wine_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
qelt_wine_session_start

cc -O2 -o "$work/native_check" bench/native_check.c -lz

# One update tree served for all sets: the status says online; each set has its manifest.
mkdir -p "$work/tree/launcher"
printf 'online' >"$work/tree/launcher/status"
qelt_file_server "$work/tree" "$work/server.log" ||
    { echo "the file server did not start"; cat "$work/server.log"; exit 1; }

# make_client <name> <files> <bytes each>: a client folder with the launcher, its
# Launcher.ini, a game stand-in and random files in folders of 100, dated an hour back,
# and its manifest. ini <name> [QuickCheck value]: writes the client's Launcher.ini.
make_client() {
    local dir="$work/$1"
    mkdir -p "$dir"
    cp "$launcher" "$dir/Launcher.exe"
    printf 'x' >"$dir/main.exe"
    ini "$1"
    mkdir -p "$work/tree/$1/launcher"
    cp "$work/tree/launcher/status" "$work/tree/$1/launcher/status"
    python3 - "$dir" "$2" "$3" "$work/tree/$1/launcher/manifest.txt" <<'PY'
import os, sys, time, zlib
folder, count, size, manifest = sys.argv[1], int(sys.argv[2]), int(sys.argv[3]), sys.argv[4]
hour_ago = time.time() - 3600
with open(manifest, "w", newline="") as out:
    for i in range(count):
        rel = "data/d%03d/f%05d.bin" % (i // 100, i) if count > 1 else "data/big.bin"
        path = os.path.join(folder, rel)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        crc = 0
        with open(path, "wb") as f:
            left = size
            while left > 0:
                block = os.urandom(min(left, 1 << 20))
                crc = zlib.crc32(block, crc)
                f.write(block)
                left -= len(block)
        os.utime(path, (hour_ago, hour_ago))
        out.write("%08X\t%s\r\n" % (crc, rel))
PY
}
ini() {
    printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s/%s\r\nQuickCheck=%s\r\n' "$port" "$1" "${2:-0}" \
        >"$work/$1/Launcher.ini"
}

field() { # field <name> <text>: the value after a name in a one-line report
    awk -v n="$1" '{ for (i = 1; i < NF; i++) if ($i == n) print $(i + 1) }' <<<"$2"
}
min() { awk -v a="$1" -v b="$2" 'BEGIN { print (a == "" || b < a ? b : a) }'; }
median() { tr ' ' '\n' | grep . | sort -g | awk '{ v[NR] = $1 } END { print (NR % 2 ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2) }'; }

sets=("empty 0 0" "small32k 4000 32768" "small4k 20000 4096" "big1g 1 1073741824")
declare -A best all
note() { # note <measure> <set> <seconds>
    best[$1.$2]=$(min "${best[$1.$2]:-}" "$3")
    all[$1.$2]="${all[$1.$2]:-} $3"
}
for set in "${sets[@]}"; do
    read -r name count size <<<"$set"
    make_client "$name" "$count" "$size"
    dir="$work/$name"
    winpath="Z:$(echo "$dir/Launcher.exe" | tr / '\\')"
    "$QELT_WINE" "$bench_exe" "$winpath" >/dev/null 2>&1 || true # warms the cache and the prefix
    ini "$name" 1
    rm -f "$dir/qelt-check.dat"
    "$QELT_WINE" "$bench_exe" "$winpath" >/dev/null 2>&1 || true # a full check writes the record
    [ -f "$dir/qelt-check.dat" ] || { echo "no quick-check record after the first run"; exit 1; }
    wdir="Z:$(echo "$dir" | tr / '\\')"
    wmanifest="Z:$(echo "$work/tree/$name/launcher/manifest.txt" | tr / '\\')"
    for run in $(seq "$runs"); do
        out=$("$work/native_check" "$dir" "$work/tree/$name/launcher/manifest.txt") || { echo "native check failed: $out"; exit 1; }
        n=$(field seconds "$out")
        out=$("$QELT_WINE" "$wine_check" "$wdir" "$wmanifest" 2 2>/dev/null) || { echo "bare Win32 check failed: $out"; exit 1; }
        b=$(field seconds "$out")
        out=$("$QELT_WINE" "$wine_check" "$wdir" "$wmanifest" 2 open 2>/dev/null) || { echo "bare Win32 open failed: $out"; exit 1; }
        o=$(field seconds "$out")
        ini "$name" 0
        out=$("$QELT_WINE" "$bench_exe" "$winpath" 2>/dev/null) || { echo "launcher run failed: $out"; exit 1; }
        l=$(field seconds "$out")
        ini "$name" 1
        out=$("$QELT_WINE" "$bench_exe" "$winpath" 2>/dev/null) || { echo "quick launcher run failed: $out"; exit 1; }
        q=$(field seconds "$out")
        echo "$name run $run: native $n s, bare Win32 $b s (open only $o s), launcher $l s, QuickCheck=1 $q s"
        note native "$name" "$n"
        note bare "$name" "$b"
        note open "$name" "$o"
        note launcher "$name" "$l"
        note quick "$name" "$q"
    done
    rm -rf "$dir"
done

# table <title> <statistic: best or median>
table() {
    local name count size n o b l q floor qfloor
    echo
    echo "$1 of $runs runs, seconds (launcher: start to \"Server dang online\")"
    printf '%-22s %8s %8s %8s %9s %9s %7s %8s %9s %9s %7s\n' set native open bare launcher "-floor" ratio "vs bare" quick "-floor" ratio
    for set in "${sets[@]}"; do
        read -r name count size <<<"$set"
        for m in native open bare launcher quick; do
            if [ "$2" = best ]; then v=${best[$m.$name]}; else v=$(median <<<"${all[$m.$name]}"); fi
            printf -v "$m" '%s' "$v"
        done
        if [ "$2" = best ]; then
            floor=${best[launcher.empty]}
            qfloor=${best[quick.empty]}
        else
            floor=$(median <<<"${all[launcher.empty]}")
            qfloor=$(median <<<"${all[quick.empty]}")
        fi
        awk -v s="$name ($count x $size)" -v n="$native" -v o="$open" -v b="$bare" -v l="$launcher" \
            -v q="$quick" -v f="$floor" -v qf="$qfloor" \
            'BEGIN { d = l - f; e = q - qf
                     printf "%-22s %8.3f %8.3f %8.3f %9.3f %9.3f %7s %8s %9.3f %9.3f %7s\n", s, n, o, b, l, d,
                            (n > 0 ? sprintf("%.1fx", d / n) : "-"), (b > 0 ? sprintf("%.2fx", d / b) : "-"),
                            q, e, (n > 0 ? sprintf("%.2fx", e / n) : "-") }'
    done
}
echo
echo "(open: the bare Win32 loop under Wine only opening and closing; bare: that loop reading,"
echo " 2 threads; -floor: less the 0-file start-up; ratio: over the floor / native; quick: the"
echo " launcher with QuickCheck=1 and its record in place)"
table best best
table median median
