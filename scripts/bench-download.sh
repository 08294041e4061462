#!/usr/bin/env bash
# Large downloads through the real Launcher.exe (x86-64, under Wine and Xvfb) from qelt-server
# on loopback: the launcher's peak resident memory for a 1 GiB patch file and a 600 MiB
# first-run package beside 1 MiB ones; kill -9 at 55% of a 512 MiB patch file, then where
# the next run's Range starts (from qelt-server's log) and what it leaves; DownloadLimitKBps
# 2048 on a 12 MiB file (the request's time in the log). Prints figures; not a test.
# Usage: scripts/bench-download.sh [Launcher.exe to run instead of this build's]
set -eu
cd "$(dirname "$0")/.."
launcher=${1:-}

bash scripts/deps.sh bench
cmake --preset tools >build/configure-tools.log 2>&1 || { cat build/configure-tools.log; exit 1; }
cmake --build --preset tools --target qelt-server >/dev/null
cmake --preset windows-x64 >build/configure-windows-x64.log 2>&1 || { cat build/configure-windows-x64.log; exit 1; }
cmake --build --preset windows-x64 -j 2 --target Launcher window_probe fake_extractor >/dev/null
win=build/windows-x64
[ -n "$launcher" ] || launcher=$win/Launcher.exe

source scripts/wine-env.sh
work=$(mktemp -d)
server_pid=""
launcher_pid=""
cleanup() {
    [ -n "$launcher_pid" ] && kill -9 "$launcher_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    qelt_wine_session_stop
    rm -rf "$work"
}
trap cleanup EXIT
qelt_wine_session_start

tree=$work/tree
mkdir -p "$tree/launcher" "$tree/patch/data" "$tree/downloads"
printf 'online' >"$tree/launcher/status"
build/tools/qelt-server --root "$tree" --port 0 --port-file "$work/port" --threads 2 \
    --db "sqlite:$work/qelt.db" >"$work/server.log" 2>&1 &
server_pid=$!
for _ in $(seq 100); do [ -s "$work/port" ] && break; sleep 0.1; done
port=$(cat "$work/port")

crc() { python3 -c 'import sys, zlib
c = 0
with open(sys.argv[1], "rb") as f:
    for piece in iter(lambda: f.read(1 << 20), b""):
        c = zlib.crc32(piece, c)
print("%08X" % c)' "$1"; }
random_file() { head -c $(($2 * 1048576)) /dev/urandom >"$1"; }
patch_manifest() { printf '%s\t%s\n' "$(crc "$tree/patch/$1")" "$1" >"$tree/launcher/manifest.txt"; }
rss_mib() { awk -F: '/Maximum resident set size/ { gsub(/ /, "", $2); print int($2 / 1024) }' "$1"; }

# game_folder NAME [extra Launcher.ini line]: the launcher in a folder of its own; the game
# stand-in is there unless the name starts with "pkg".
game_folder() {
    local dir=$work/$1
    rm -rf "$dir"
    mkdir -p "$dir"
    cp "$launcher" "$dir/Launcher.exe"
    printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s\r\n%s' "$port" "${2:-}" >"$dir/Launcher.ini"
    case "$1" in pkg*) ;; *) printf 'x' >"$dir/main.exe" ;; esac
    echo "$dir"
}

# start_launcher DIR [TIME_FILE]: starts the launcher, under /usr/bin/time -v when asked.
start_launcher() {
    if [ -n "${2:-}" ]; then
        /usr/bin/time -v -o "$2" "$QELT_WINE" "$1/Launcher.exe" </dev/null >/dev/null 2>&1 &
    else
        "$QELT_WINE" "$1/Launcher.exe" </dev/null >/dev/null 2>&1 &
    fi
    launcher_pid=$!
}

# finish_launcher: waits for the end of the started launcher's run, closes it and prints the
# last status text.
finish_launcher() {
    local status=""
    for _ in $(seq 600); do
        status=$("$QELT_WINE" "$win/window_probe.exe" --wait 5000 2>/dev/null |
            sed -n 's/.*"status":"\([^"]*\)".*/\1/p')
        case "$status" in "Server dang online"* | *"that bai"* | "Khong"* | "Giai nen"*) break ;; esac
        sleep 0.5
    done
    "$QELT_WINE" "$win/window_probe.exe" press 1004 >/dev/null 2>&1
    wait "$launcher_pid" 2>/dev/null || true
    launcher_pid=""
    echo "$status"
}

run_launcher() {
    start_launcher "$@"
    finish_launcher
}

echo "qelt-server on port $port, work folder $work"
declare -A peak
for set in "patch 1" "patch 1024" "pkg 1" "pkg 600"; do
    read -r kind mib <<<"$set"
    if [ "$kind" = patch ]; then
        random_file "$tree/patch/data/f$mib.bin" "$mib"
        patch_manifest "data/f$mib.bin"
    else
        cp "$win/tests/support/fake_extractor.exe" "$tree/downloads/Qelt-Data.exe"
        head -c $((mib * 1048576)) /dev/urandom >>"$tree/downloads/Qelt-Data.exe"
        : >"$tree/launcher/manifest.txt"
    fi
    dir=$(game_folder "$kind$mib")
    status=$(run_launcher "$dir" "$work/time.txt")
    peak[$kind$mib]=$(rss_mib "$work/time.txt")
    echo "$kind of $mib MiB: peak RSS ${peak[$kind$mib]} MiB; ended with: $status"
    if [ "$kind" = patch ]; then
        [ "$(crc "$dir/data/f$mib.bin")" = "$(crc "$tree/patch/data/f$mib.bin")" ] || echo "  the file differs!"
        rm -f "$tree/patch/data/f$mib.bin"
    fi
    rm -rf "$dir"
done
echo "1 GiB patch file vs 1 MiB: +$((peak[patch1024] - peak[patch1])) MiB"
echo "600 MiB package vs 1 MiB:  +$((peak[pkg600] - peak[pkg1])) MiB"

# kill -9 at 55% of a 512 MiB file, then a second run.
size=$((512 * 1048576))
random_file "$tree/patch/data/k512.bin" 512
patch_manifest "data/k512.bin"
dir=$(game_folder kill)
"$QELT_WINE" "$dir/Launcher.exe" </dev/null >/dev/null 2>&1 &
launcher_pid=$!
part=0
for _ in $(seq 3000); do
    part=$(stat -c %s "$dir/data/k512.bin.part" 2>/dev/null || echo 0)
    [ "$part" -ge $((size * 55 / 100)) ] && break
    sleep 0.02
done
kill -9 "$launcher_pid"
wait "$launcher_pid" 2>/dev/null || true
launcher_pid=""
sleep 1
part=$(stat -c %s "$dir/data/k512.bin.part" 2>/dev/null || echo 0)
echo "kill -9 with $((part / 1048576)) MiB of 512 in data/k512.bin.part ($((part * 100 / size))%); left: $(ls "$dir/data" | tr '\n' ' ')"
: >"$work/server.log.mark"
lines_before=$(wc -l <"$work/server.log")
status=$(run_launcher "$dir")
resumed=$(tail -n +$((lines_before + 1)) "$work/server.log" | grep '"GET /patch/data/k512.bin"' | tail -1)
echo "second run: $resumed"
bytes=$(awk '{ print $(NF - 1) }' <<<"$resumed")
echo "  status $(awk '{ print $(NF - 2) }' <<<"$resumed"), $((bytes / 1048576)) MiB sent: the Range started at $(((size - bytes) / 1048576)) MiB"
[ "$(crc "$dir/data/k512.bin")" = "$(crc "$tree/patch/data/k512.bin")" ] && echo "  the file is right" || echo "  the file differs!"
echo "  ended with: $status; data/ holds: $(ls "$dir/data" | tr '\n' ' ')"
rm -rf "$dir" "$tree/patch/data/k512.bin"

# DownloadLimitKBps=2048 on 12 MiB.
random_file "$tree/patch/data/m12.bin" 12
patch_manifest "data/m12.bin"
dir=$(game_folder limit $'DownloadLimitKBps=2048\r\n')
start_launcher "$dir"
# On the launcher's side: from its .part's appearance to the file's.
for _ in $(seq 3000); do [ -e "$dir/data/m12.bin.part" ] && break; sleep 0.01; done
began=$(date +%s.%N)
for _ in $(seq 6000); do [ -e "$dir/data/m12.bin" ] && break; sleep 0.01; done
ended=$(date +%s.%N)
status=$(finish_launcher)
line=$(grep '"GET /patch/data/m12.bin"' "$work/server.log" | tail -1)
echo "DownloadLimitKBps=2048, 12 MiB (6 s at the limit): $(awk -v a="$began" -v b="$ended" 'BEGIN { printf "%.2f", b - a }') s in the launcher's folder, the request $(awk '{ print $NF }' <<<"$line") in qelt-server's log (which ends when the last byte is handed to the socket); ended with: $status"
