#!/usr/bin/env bash
# The game data package made by qelt-pack, black box under Wine.
#   pack_test.sh install   client -> qelt-pack --arch x64 -> qelt-publish --package -> a plain
#                          static HTTP server; the real Launcher.exe in an empty folder installs
#                          the client through its first run, and then finds every file current
#   pack_test.sh damaged   a truncated, an altered and an escaping package each exit non-zero
#                          and leave the output folder exactly as it was
# Needs the tools preset (qelt-pack, qelt-publish, the extractors) and the windows-x64 preset
# (Launcher.exe, window_probe.exe, tests/support/fake_game.exe) built. Exits 0 on success.
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/scripts/wine-env.sh"
source "$root/scripts/xvfb.sh"
source "$root/scripts/file-server.sh"
tools=$root/build/tools
win=$root/build/windows-x64
for f in "$tools/qelt-pack" "$tools/qelt-publish" "$tools/qelt-pack-stub-x64.exe" "$win/Launcher.exe" \
    "$win/window_probe.exe" "$win/tests/support/fake_game.exe"; do
    [ -f "$f" ] || { echo "pack_test: $f is not built"; exit 1; }
done
qelt_wine_prefix >/dev/null

scratch=$(mktemp -d /tmp/qelt-pack-test-XXXXXX)
server_pid=""
launcher_pid=""
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null
    [ -n "$server_pid" ] && kill "$server_pid" 2>/dev/null
    qelt_xvfb_stop
    wait 2>/dev/null
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "pack_test: FAILED: $*"; exit 1; }

# A small client: the game program, binary data, a folder name with a space, an empty file.
client=$scratch/client
mkdir -p "$client/data/sub dir"
cp "$win/tests/support/fake_game.exe" "$client/main.exe"
head -c 700000 /dev/urandom >"$client/data/map1.att"
seq 1 50000 >"$client/data/sub dir/readme.txt"
: >"$client/data/empty.bin"
"$tools/qelt-pack" --arch x64 "$client" "$scratch/Qelt-Data.exe" >/dev/null || fail "qelt-pack"

# Lists a folder as "path size crc" lines, to compare before and after.
listing() { (cd "$1" && find . -mindepth 1 | sort | while read -r p; do
    if [ -f "$p" ]; then echo "$p $(cksum <"$p")"; else echo "$p/"; fi
done); }

extract() { # extract PACKAGE DIR: runs it as the launcher does, prints its exit code
    "$QELT_WINE" "$1" "-oZ:$2" -y </dev/null >/dev/null 2>&1
    echo $?
}

case "${1:-}" in
install)
    if [ -z "${DISPLAY:-}" ]; then
        qelt_xvfb_start || fail "no X display"
    fi
    tree=$scratch/tree
    "$tools/qelt-publish" "$client" "$tree" --package "$scratch/Qelt-Data.exe" >/dev/null ||
        fail "qelt-publish"
    qelt_file_server "$tree" "$scratch/server.log" || fail "the HTTP server did not start"

    game=$scratch/game
    mkdir -p "$game"
    cp "$win/Launcher.exe" "$game/"
    printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s\r\n' "$port" >"$game/Launcher.ini"
    "$QELT_WINE" "$game/Launcher.exe" </dev/null >/dev/null 2>&1 &
    launcher_pid=$!
    status=""
    for _ in $(seq 120); do
        status=$("$QELT_WINE" "$win/window_probe.exe" --wait 5000 2>/dev/null |
            sed -n 's/.*"status":"\([^"]*\)".*/\1/p')
        case "$status" in
        "Server dang online"* | *"that bai"* | "Khong"*) break ;;
        esac
        sleep 1
    done
    "$QELT_WINE" "$win/window_probe.exe" press 1004 >/dev/null 2>&1
    for _ in $(seq 50); do
        kill -0 "$launcher_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$status" = "Server dang online - san sang vao game" ] || fail "the launcher ended with: $status"
    rm -f "$game/Launcher.exe" "$game/Launcher.ini"
    [ "$(listing "$game")" = "$(listing "$client")" ] ||
        fail "installed files differ: $(diff <(listing "$client") <(listing "$game"))"
    grep -q '"GET /downloads/Qelt-Data.exe HTTP/1.1" 200' "$scratch/server.log" ||
        fail "the package was not downloaded"
    # Every file came from the package with the CRC-32 the manifest lists: nothing to patch.
    ! grep -q 'GET /patch/' "$scratch/server.log" || fail "files were patched after the install"
    echo "pack_test: the package installed $(listing "$client" | wc -l) entries through the first run"
    ;;
damaged)
    out=$scratch/out
    mkdir -p "$out"
    echo "kept" >"$out/main.exe" # an older file of the same name must survive a failure
    before=$(listing "$out")
    size=$(stat -c %s "$scratch/Qelt-Data.exe")
    head -c $((size - 1000)) "$scratch/Qelt-Data.exe" >"$scratch/truncated.exe"
    cp "$scratch/Qelt-Data.exe" "$scratch/altered.exe"
    # One byte inside the deflated data near the end.
    printf '\x55' | dd of="$scratch/altered.exe" bs=1 seek=$((size - 300000)) conv=notrunc 2>/dev/null
    # A well-formed package whose one file would land outside the output folder.
    python3 - "$tools/qelt-pack-stub-x64.exe" "$scratch/escape.exe" <<'EOF'
import struct, sys, zlib
stub = open(sys.argv[1], "rb").read()
data = zlib.compress(b"escaped")
path = b"../escaped.txt"
index = struct.pack("<H", len(path)) + path + struct.pack("<QIQQ", 7, zlib.crc32(b"escaped"),
                                                            len(stub), len(data))
trailer = struct.pack("<QQII", len(stub) + len(data), len(index), 1, zlib.crc32(index)) + b"QELTPAK1"
open(sys.argv[2], "wb").write(stub + data + index + trailer)
EOF
    for package in truncated altered escape; do
        code=$(extract "$scratch/$package.exe" "$out")
        [ "$code" != 0 ] || fail "the $package package exited 0"
        [ "$(listing "$out")" = "$before" ] || fail "the $package package left: $(listing "$out")"
    done
    [ ! -e "$scratch/escaped.txt" ] || fail "a file escaped the output folder"
    code=$("$QELT_WINE" "$scratch/Qelt-Data.exe" "-oZ:$out" -x </dev/null >/dev/null 2>&1; echo $?)
    [ "$code" != 0 ] || fail "an unknown option was accepted"
    # The intact package over the same folder: every file in place, the old one replaced.
    [ "$(extract "$scratch/Qelt-Data.exe" "$out")" = 0 ] || fail "the intact package failed"
    [ "$(listing "$out")" = "$(listing "$client")" ] || fail "the intact package differs"
    echo "pack_test: truncated, altered and escaping packages refused, nothing left behind"
    ;;
*)
    echo "usage: $0 install|damaged"
    exit 2
    ;;
esac
exit 0
