#!/usr/bin/env bash
# Builds Launcher.exe (x86-64) and runs it under Wine in a demo client folder
# (build/demo-client). Without a DISPLAY it runs on a private Xvfb display, saves a
# screenshot to build/demo.png and closes the launcher after a few seconds.
set -u
cd "$(dirname "$0")/.."
bash scripts/deps.sh demo || exit 1
cmake --preset windows-x64 >build-configure.log 2>&1 || { cat build-configure.log; exit 1; }
rm -f build-configure.log
cmake --build --preset windows-x64 --target Launcher || exit 1

client=build/demo-client
mkdir -p "$client"
cp build/windows-x64/Launcher.exe "$client/"
cat >"$client/Launcher.ini" <<'INI'
[Launcher]
LauncherName=Qelt Launcher Demo
Title=ZORVAND Online
INI

source scripts/wine-env.sh
source scripts/xvfb.sh
qelt_wine_prefix
if [ -n "${DISPLAY:-}" ] && [ -z "${QELT_DEMO_HEADLESS:-}" ]; then
    echo "Starting the launcher on $DISPLAY; close its window to end the demo."
    (cd "$client" && "$QELT_WINE" Launcher.exe)
    exit $?
fi
qelt_xvfb_start || exit 1
(cd "$client" && "$QELT_WINE" Launcher.exe) &
launcher=$!
sleep "${QELT_DEMO_SECONDS:-8}"
import -window root build/demo.png && echo "Screenshot: build/demo.png"
"$QELT_WINESERVER" -k
wait "$launcher" 2>/dev/null
qelt_xvfb_stop
