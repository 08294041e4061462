#!/usr/bin/env bash
# Builds every preset and runs every test layer: native unit tests (ASan + UBSan), the
# Win32 tests and the end-to-end tests under Wine + Xvfb, the i686 release build, the
# import check, the CRC-32 folding code's register check, the format check, the layer
# check, the docs' link check and a short run of each fuzz target. Ends with "N passed,
# N failed". Interrupted, it ends what it started.
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
jobs=${QELT_JOBS:-$(nproc)}

source scripts/wine-env.sh
wineserver_started=0
test_group=""
cleanup() {
    trap - EXIT INT TERM
    # The test programs and the servers they started share the process group of ctest.
    [ -n "$test_group" ] && kill -TERM -- "-$test_group" 2>/dev/null
    [ "$wineserver_started" = 1 ] && qelt_wineserver_stop
    qelt_xvfb_stop
}
trap cleanup EXIT
trap 'echo "Interrupted"; cleanup; exit 130' INT TERM

# Runs a test command in a process group of its own, so an interruption can end all of it;
# waiting in the background keeps this script able to take the signal meanwhile.
run_tests() {
    setsid "$@" &
    test_group=$!
    wait "$test_group"
    local rc=$?
    test_group=""
    return $rc
}

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

layer_check_refuses() { # the layer check must itself fail on what it is there to catch
    local tree out
    tree=$(mktemp -d) || return 1
    mkdir -p "$tree/base" "$tree/app"
    printf '#include "app/main_window.h"\n' >"$tree/base/text.h"
    printf 'void F(char* s) { snprintf(s, 4, "%%d", 1); }\n' >"$tree/app/main_window.cpp"
    out=$(bash scripts/check-layers.sh "$tree")
    local status=$?
    rm -rf "$tree"
    [ "$status" -ne 0 ] && grep -q 'base/text.h:1: base/ includes app/' <<<"$out" &&
        grep -q 'app/main_window.cpp:1: formats with snprintf' <<<"$out"
}

mkdir -p build
rm -rf build/host/test-results build/windows-x64/test-results build/tools/test-results
rm -f build/host/Testing/Temporary/LastTestsFailed.log build/windows-x64/Testing/Temporary/LastTestsFailed.log

# A failed build leaves older test programs behind, which would pass: run no tests then.
host_built=0
windows_built=0
tools_built=0
check "host build" build_preset host && host_built=1
check "windows-x64 build" build_preset windows-x64 && windows_built=1
check "windows-x86 build" build_preset windows-x86
check "tools build" build_preset tools && tools_built=1
check "Launcher.exe (x86) imports only system DLLs" only_system_dlls build/windows-x86/Launcher.exe i686-w64-mingw32-objdump
check "Launcher.exe (x64) imports only system DLLs" only_system_dlls build/windows-x64/Launcher.exe x86_64-w64-mingw32-objdump
check "qelt-pack extractor (x86) imports only system DLLs" only_system_dlls build/tools/qelt-pack-stub-x86.exe i686-w64-mingw32-objdump
check "CRC-32 folding keeps vectors in registers (x64)" bash scripts/check-vector-spills.sh build/windows-x64 x86_64-w64-mingw32-objdump
check "CRC-32 folding keeps vectors in registers (x86)" bash scripts/check-vector-spills.sh build/windows-x86 i686-w64-mingw32-objdump
check "clang-format" format_clean
check "layers: every include in src/ points down" bash scripts/check-layers.sh
check "layers: the check refuses an upward include and a bare snprintf" layer_check_refuses
check "docs: every relative link in README.md and docs/ resolves" python3 scripts/check-links.py
check "fuzz targets (a few seconds each)" bash scripts/fuzz.sh "${QELT_FUZZ_SECONDS:-5}"

if [ "$host_built" = 1 ]; then
    run_tests ctest --test-dir build/host --output-on-failure
fi

# qelt-server, black box against the tools build; its results join the summary line.
# qelt_server_tests SUITE [ARGS]: its cases are counted from SUITE.xml; a run that leaves
# no results (a crash) counts as one failure.
qelt_server_tests() {
    local suite=$1
    shift
    [ "$tools_built" = 1 ] || { extra_failed=$((extra_failed + 1)); return; }
    run_tests /usr/bin/python3 tests/tools/server/server_test.py build/tools "$@" ||
        [ -f "build/tools/test-results/$suite.xml" ] || extra_failed=$((extra_failed + 1))
}
qelt_server_tests qelt_server_tests

if [ "$windows_built" = 1 ] && qelt_wine_session_start; then
    wineserver_started=1
    run_tests ctest --test-dir build/windows-x64 --output-on-failure
    # The first-run package from qelt-pack, black box under Wine (tools + windows-x64 builds).
    check "qelt-pack package installs a client through the launcher's first run" \
        bash tests/tools/pack/pack_test.sh install
    check "a tree signed by qelt-publish installs through a launcher with its UpdateKey" \
        bash tests/tools/pack/pack_test.sh install-signed
    check "qelt-pack package truncated, altered, escaping or failing to rename leaves nothing behind" \
        bash tests/tools/pack/pack_test.sh damaged
    check "qelt-pack and its extractor refuse the names Windows cannot keep apart or create" \
        bash tests/tools/pack/pack_test.sh names
    if [ "$host_built" = 1 ]; then
        check "signed list: the operator's OpenSSL signatures verify with the launcher's CNG" \
            bash tests/tools/common/signing_agreement.sh
    else
        check "signed list: operator and launcher agree (host build missing)" false
    fi
    QELT_WINE=$QELT_WINE qelt_server_tests qelt_server_launcher_tests -k launcher --launcher build/windows-x64
    qelt_wine_session_stop
    wineserver_started=0
else
    echo "FAILED: Win32 and end-to-end tests not run"
    extra_failed=$((extra_failed + 1))
fi

# The scaled deployment: nginx, two server instances and PostgreSQL, the launcher through
# it over HTTPS; its cases are counted from build/deploy/test-results.
if [ "$tools_built" = 1 ] && [ "$windows_built" = 1 ]; then
    run_tests bash tests/deploy/run.sh ||
        grep -qs '<failure' build/deploy/test-results/*.xml || extra_failed=$((extra_failed + 1))
else
    echo "FAILED: deployment tests not run"
    extra_failed=$((extra_failed + 1))
fi

EXTRA_PASSED=$extra_passed EXTRA_FAILED=$extra_failed bash scripts/summarize.sh build/host build/windows-x64 \
    build/tools build/deploy
