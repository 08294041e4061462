#!/usr/bin/env bash
# The demo: publishes a small client with qelt-publish, serves it with qelt-server on a
# free loopback port, and runs Launcher.exe (x86-64, under Wine) in build/demo/client
# against it. The launcher updates two files, then shows the server online; Register
# creates accounts in build/demo/qelt.db (SQLite, Argon2id password hashes) and Connect
# starts a stand-in game (Wine's notepad). On your DISPLAY the demo ends when you close the launcher;
# without one it runs on a private Xvfb, saves build/demo.png and stops.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
bash scripts/deps.sh demo || exit 1
for preset in tools windows-x64; do
    cmake --preset "$preset" >"build-configure-$preset.log" 2>&1 || { cat "build-configure-$preset.log"; exit 1; }
    rm -f "build-configure-$preset.log"
done
cmake --build --preset tools --target qelt-publish qelt-server || exit 1
cmake --build --preset windows-x64 --target Launcher || exit 1

source scripts/wine-env.sh
qelt_wine_prefix

demo=build/demo
rm -rf "$demo"
mkdir -p "$demo/published/data" "$demo/client/data"
# What the operator publishes: the game program and two data files.
cp "$WINEPREFIX/drive_c/windows/notepad.exe" "$demo/published/main.exe"
head -c 300000 /dev/urandom >"$demo/published/data/map1.att"
printf 'Welcome to ZORVAND Online\r\n' >"$demo/published/data/readme.txt"
build/tools/qelt-publish "$demo/published" "$demo/server-root" || exit 1

# What the player has: the launcher, its settings, a picture, the game, an old map file.
cp build/windows-x64/Launcher.exe "$demo/client/"
cp "$demo/published/main.exe" "$demo/client/"
echo "old map" >"$demo/client/data/map1.att"
convert -size 436x350 gradient:'#1b2a4a'-'#e0895a' \
    -fill '#ffe6a0' -draw 'circle 300,150 300,120' \
    -fill '#2b2540' -draw 'polygon 0,350 0,250 80,200 160,260 240,190 330,250 436,210 436,350' \
    "$demo/client/launcher_bg.png" 2>/dev/null || true

build/tools/qelt-server --root "$demo/server-root" --port 0 --port-file "$demo/port" \
    --db "sqlite:$demo/qelt.db" >"$demo/server.log" 2>&1 &
server=$!
trap 'kill $server 2>/dev/null' EXIT
for _ in $(seq 50); do [ -s "$demo/port" ] && break; sleep 0.1; done
port=$(cat "$demo/port")
cat >"$demo/client/Launcher.ini" <<INI
[Launcher]
LauncherName=Qelt Launcher Demo
GameExecutable=main.exe
UpdateUrl=http://127.0.0.1:$port
BackgroundImage=launcher_bg.png
Title=ZORVAND Online
INI
echo "Update server: http://127.0.0.1:$port (root $demo/server-root, log $demo/server.log)"
echo "Accounts: sqlite3 $demo/qelt.db 'SELECT account, email, created FROM accounts'"

if [ -n "${DISPLAY:-}" ] && [ -z "${QELT_DEMO_HEADLESS:-}" ]; then
    echo "Starting the launcher on $DISPLAY; close its window to end the demo."
    (cd "$demo/client" && "$QELT_WINE" Launcher.exe)
    exit 0
fi
qelt_xvfb_start || exit 1
(cd "$demo/client" && "$QELT_WINE" Launcher.exe) &
sleep "${QELT_DEMO_SECONDS:-10}"
import -window root -crop 640x600+320+180 build/demo.png && echo "Screenshot: build/demo.png"
"$QELT_WINESERVER" -k
qelt_xvfb_stop
