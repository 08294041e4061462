#!/usr/bin/env bash
# The game data package made by qelt-pack, black box under Wine.
#   pack_test.sh install   client -> qelt-pack --arch x64 -> qelt-publish --package -> a plain
#                          static HTTP server; the real Launcher.exe in an empty folder installs
#                          the client through its first run, and then finds every file current
#   pack_test.sh install-signed   the same with qelt-publish --keygen and --sign and the
#                          launcher's UpdateKey: the launcher reads the signed list only, and
#                          takes the package and every file under its signature
#   pack_test.sh damaged   a truncated, an altered and an escaping package each exit non-zero
#                          and leave the output folder exactly as it was; so does a package
#                          whose last file meets a folder at the rename step, after the
#                          files before it were put in place
#   pack_test.sh names     the shared name table (tests/tools/common/name_rules.txt): qelt-pack
#                          refuses every name a folder here can hold, and the extractor
#                          refuses each refused or colliding name before writing anything
# Needs the tools preset (qelt-pack, qelt-publish, the extractors) and the windows-x64 preset
# (Launcher.exe, window_probe.exe, tests/support/fake_game.exe) built. Exits 0 on success.
set -u
root=$(cd "$(dirname "$0")/../../.." && pwd)
source "$root/scripts/wine-env.sh"
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
    local code attempt
    # The extractor ends with 0, 2, 3 or 4; another code is Wine failing to start it
    # (seen once under load): that run is repeated once, Wine's words shown.
    for attempt in 1 2; do
        "$QELT_WINE" "$1" "-oZ:$2" -y </dev/null >/dev/null 2>"$scratch/wine.err"
        code=$?
        case $code in 0 | 2 | 3 | 4) break ;; esac
        echo "pack_test: Wine exited $code: $(tail -c 400 "$scratch/wine.err")" >&2
    done
    echo "$code"
}

case "${1:-}" in
install | install-signed)
    if [ -z "${DISPLAY:-}" ]; then
        qelt_xvfb_start || fail "no X display"
    fi
    tree=$scratch/tree
    sign=()
    key_line=""
    if [ "$1" = install-signed ]; then
        key_line=$("$tools/qelt-publish" --keygen "$scratch/key.pem") || fail "qelt-publish --keygen"
        sign=(--sign "$scratch/key.pem")
    fi
    "$tools/qelt-publish" "$client" "$tree" --package "$scratch/Qelt-Data.exe" "${sign[@]}" \
        >/dev/null || fail "qelt-publish"
    qelt_file_server "$tree" "$scratch/server.log" || fail "the HTTP server did not start"

    game=$scratch/game
    mkdir -p "$game"
    cp "$win/Launcher.exe" "$game/"
    printf '[Launcher]\r\nUpdateUrl=http://127.0.0.1:%s\r\n%s\r\n' "$port" "$key_line" \
        >"$game/Launcher.ini"
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
    if [ -n "$key_line" ]; then
        [ "$(cat "$game/qelt-sequence.dat")" = 1 ] || fail "the sequence number was not recorded"
        grep -q '"GET /launcher/files.sig HTTP/1.1" 200' "$scratch/server.log" ||
            fail "the signed list was not read"
        ! grep -q 'GET /launcher/manifest.txt' "$scratch/server.log" ||
            fail "a launcher with UpdateKey read the manifest"
        rm -f "$game/qelt-sequence.dat"
    fi
    rm -f "$game/Launcher.exe" "$game/Launcher.ini"
    [ "$(listing "$game")" = "$(listing "$client")" ] ||
        fail "installed files differ: $(diff <(listing "$client") <(listing "$game"))"
    grep -q '"GET /downloads/Qelt-Data.exe HTTP/1.1" 200' "$scratch/server.log" ||
        fail "the package was not downloaded"
    # Every file came from the package with the CRC-32 the manifest lists: nothing to patch.
    ! grep -q 'GET /patch/' "$scratch/server.log" || fail "files were patched after the install"
    echo "pack_test: the package installed $(listing "$client" | wc -l) entries through the first run${key_line:+, signed}"
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
    # The rename step fails at its last file (a folder stands where it must go): the file
    # renamed before it is put back, the one added and the folder made for it go again.
    mkdir -p "$scratch/late/b" "$out/d.txt"
    echo "new" >"$scratch/late/a.txt"
    echo "added" >"$scratch/late/b/c.txt"
    echo "file" >"$scratch/late/d.txt"
    echo "inside" >"$out/d.txt/inside.txt"
    "$tools/qelt-pack" --arch x64 "$scratch/late" "$scratch/late.exe" >/dev/null || fail "qelt-pack"
    cp "$out/main.exe" "$out/a.txt"
    before_late=$(listing "$out")
    code=$(extract "$scratch/late.exe" "$out")
    [ "$code" = 4 ] || fail "the rename failure exited $code, not 4"
    [ "$(listing "$out")" = "$before_late" ] ||
        fail "the rename failure left: $(diff <(echo "$before_late") <(listing "$out"))"
    rm -rf "$out/d.txt" "$out/a.txt"
    # The intact package over the same folder: every file in place, the old one replaced.
    [ "$(extract "$scratch/Qelt-Data.exe" "$out")" = 0 ] || fail "the intact package failed"
    [ "$(listing "$out")" = "$(listing "$client")" ] || fail "the intact package differs"
    echo "pack_test: truncated, altered and escaping packages refused, a failed rename step undone; nothing left behind"
    ;;
names)
    mkdir -p "$scratch/names"
    python3 - "$QELT_WINE" "$tools" "$root/tests/tools/common/name_rules.txt" "$scratch/names" <<'EOF'
import os, shutil, struct, subprocess, sys, zlib
wine, tools, table, work = sys.argv[1:5]
stub = open(os.path.join(tools, "qelt-pack-stub-x64.exe"), "rb").read()
def decode(field):
    return field.encode().decode("unicode_escape").encode("latin-1")
cases = []
for line in open(table, encoding="utf-8"):
    line = line.rstrip("\n")
    if line and not line.startswith("#"):
        kind, *fields = line.split("\t")
        cases.append((kind, [decode(f) for f in fields]))
def package(names, path):
    data, index = b"", b""
    for name in names:
        packed = zlib.compress(b"x")
        index += struct.pack("<H", len(name)) + name + struct.pack(
            "<QIQQ", 1, zlib.crc32(b"x"), len(stub) + len(data), len(packed))
        data += packed
    trailer = struct.pack("<QQII", len(stub) + len(data), len(index), len(names),
                          zlib.crc32(index)) + b"QELTPAK1"
    open(path, "wb").write(stub + data + index + trailer)
def listing(folder):
    return sorted((os.path.relpath(os.path.join(d, n), folder), open(os.path.join(d, n), "rb").read())
                  for d, _, files in os.walk(folder) for n in files)
failures = []
out = os.path.join(work, "out")
os.makedirs(out)
open(os.path.join(out, "main.exe"), "wb").write(b"kept")
before = listing(out)
checked = 0
for number, (kind, fields) in enumerate(cases):
    if kind == "fold":
        continue  # the extractor follows the table of the Windows it runs on
    names = fields[:1] if kind in ("refused", "accepted") else fields[:2]
    exe = os.path.join(work, "p%d.exe" % number)
    package(names, exe)
    # The extractor ends with 0, 2, 3 or 4; another code is Wine failing to start it
    # (seen once in a CI run under load): that run is repeated once, its words kept.
    for attempt in range(2):
        run = subprocess.run([wine, exe, "-oZ:" + out, "-y"], stdin=subprocess.DEVNULL,
                             stdout=subprocess.DEVNULL, stderr=subprocess.PIPE)
        code = run.returncode
        if code in (0, 2, 3, 4):
            break
        print("pack_test: %r: Wine exited %d: %s" % (names, code, run.stderr[-400:]))
    after = listing(out)
    if kind in ("accepted", "apart"):
        # Folders differing in case merge, as on Windows: count the files, not their paths.
        added = [f for f in after if f not in before]
        if code != 0 or len(added) != len(names) or any(f[1] != b"x" for f in added):
            failures.append("%s %r: exit %d, %r" % (kind, names, code, after))
        shutil.rmtree(out)
        os.makedirs(out)
        open(os.path.join(out, "main.exe"), "wb").write(b"kept")
    elif code != 3 or after != before:
        failures.append("%s %r: exit %d, left %r" % (kind, names, code, after))
        shutil.rmtree(out)
        os.makedirs(out)
        open(os.path.join(out, "main.exe"), "wb").write(b"kept")
    checked += 1
# qelt-pack: every refused or colliding name a folder here can hold, in one client.
client = os.path.join(work, "client")
os.makedirs(client)
made = []
for kind, fields in cases:
    for name in (fields[:1] if kind == "refused" else
                 fields[:2] if kind in ("collide", "fold") else []):
        if name.startswith(b"/") or any(p in (b"", b".", b"..") for p in name.split(b"/")):
            continue
        path = os.path.join(client.encode(), name)
        try:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            open(path, "wb").write(b"x")
            made.append(name)
        except OSError:
            pass
pack = subprocess.run([os.path.join(tools, "qelt-pack"), "--arch", "x64", client,
                       os.path.join(work, "bad.exe")], capture_output=True)
if pack.returncode != 1 or os.path.exists(os.path.join(work, "bad.exe")):
    failures.append("qelt-pack exited %d" % pack.returncode)
failures += ["qelt-pack did not name %r" % n for n in made if n not in pack.stderr]
for failure in failures:
    print("pack_test: " + failure)
print("pack_test: %d name cases through the extractor, %d names through qelt-pack"
      % (checked, len(made)))
sys.exit(1 if failures or checked < 45 else 0)
EOF
    [ $? = 0 ] || fail "the name rules"
    ;;
*)
    echo "usage: $0 install|install-signed|damaged|names"
    exit 2
    ;;
esac
exit 0
