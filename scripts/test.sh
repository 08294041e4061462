#!/usr/bin/env bash
# Builds every preset and runs every test layer: native unit tests (ASan + UBSan), the
# Win32 tests and the end-to-end tests under Wine + Xvfb, the i686 release build, the
# import check, the CRC-32 folding code's register check and the format check. Ends with
# "N passed, N failed".
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QELT_JOBS:-$(nproc)}

bash scripts/deps.sh test || { echo "Installing the dependencies failed"; echo "0 passed, 1 failed"; exit 1; }

extra_passed=0
extra_failed=0
check() { # check <name> <command...>: a step that counts as one test
    local name=$1
    shift
    if "$@"; then
        extra_passed=$((extra_passed + 1))
    else
        echo "FAILED: $name"
        extra_failed=$((extra_failed + 1))
    fi
}

build_preset() {
    cmake --preset "$1" >"build/configure-$1.log" 2>&1 || { cat "build/configure-$1.log"; return 1; }
    cmake --build --preset "$1" -j "$jobs"
}

only_system_dlls() { # the release program must not need the compiler's DLLs
    local exe=$1 objdump=$2 dlls
    [ -f "$exe" ] || return 1
    dlls=$("$objdump" -p "$exe" | awk '/DLL Name:/ {print tolower($3)}')
    echo "$exe imports: $(echo $dlls)"
    ! echo "$dlls" | grep -E -q 'libstdc|libgcc|libwinpthread|^lib'
}

format_clean() {
    git ls-files '*.cpp' '*.h' | xargs clang-format --dry-run --Werror
}

mkdir -p build
rm -rf build/host/test-results build/windows-x64/test-results build/tools/test-results
rm -f build/host/Testing/Temporary/LastTestsFailed.log build/windows-x64/Testing/Temporary/LastTestsFailed.log

check "host build" build_preset host
check "windows-x64 build" build_preset windows-x64
check "windows-x86 build" build_preset windows-x86
check "tools build" build_preset tools
check "Launcher.exe (x86) imports only system DLLs" only_system_dlls build/windows-x86/Launcher.exe i686-w64-mingw32-objdump
check "Launcher.exe (x64) imports only system DLLs" only_system_dlls build/windows-x64/Launcher.exe x86_64-w64-mingw32-objdump
check "CRC-32 folding keeps vectors in registers (x64)" bash scripts/check-vector-spills.sh build/windows-x64 x86_64-w64-mingw32-objdump
check "CRC-32 folding keeps vectors in registers (x86)" bash scripts/check-vector-spills.sh build/windows-x86 i686-w64-mingw32-objdump
check "clang-format" format_clean

if [ -d build/host ]; then
    ctest --test-dir build/host --output-on-failure
fi

# qelt-server, black box against the tools build; its results join the summary line.
# qelt_server_tests SUITE [ARGS]: its cases are counted from SUITE.xml; a run that leaves
# no results (a crash) counts as one failure.
qelt_server_tests() {
    local suite=$1
    shift
    /usr/bin/python3 tests/tools/server_test.py build/tools "$@" ||
        [ -f "build/tools/test-results/$suite.xml" ] || extra_failed=$((extra_failed + 1))
}
qelt_server_tests qelt_server_tests

source scripts/wine-env.sh
source scripts/xvfb.sh
if [ -d build/windows-x64 ] && qelt_xvfb_start; then
    qelt_wine_prefix
    qelt_wineserver_start
    # Start Wine's own services now, so they do not hold CTest's output pipes open.
    "$QELT_WINE" cmd /c exit 0 </dev/null >/dev/null 2>&1
    ctest --test-dir build/windows-x64 --output-on-failure
    QELT_WINE=$QELT_WINE qelt_server_tests qelt_server_launcher_tests -k launcher --launcher build/windows-x64
    qelt_wineserver_stop
    qelt_xvfb_stop
else
    extra_failed=$((extra_failed + 1))
fi

# The scaled deployment: nginx, two server instances and PostgreSQL, the launcher through it.
if ! bash tests/deploy/run.sh; then
    grep -qs '<failure' build/deploy/test-results/*.xml || extra_failed=$((extra_failed + 1))
fi

EXTRA_PASSED=$extra_passed EXTRA_FAILED=$extra_failed bash scripts/summarize.sh build/host build/windows-x64 \
    build/tools build/deploy
