#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the parser and form code instrumented too) and
# runs each for a bounded time (seconds each, default 60): the manifest parser, and the
# registration form encoding with the UTF-8/UTF-16 conversions. Prints each target's
# final coverage; findings land in build/fuzz/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh test
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DQELT_FUZZ=ON -DQELT_SANITIZE=ON -DQELT_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >build/fuzz-configure.log 2>&1 || { cat build/fuzz-configure.log; exit 1; }
cmake --build build/fuzz --target manifest_fuzz registration_form_fuzz
mkdir -p build/fuzz/corpus/manifest build/fuzz/corpus/registration_form
printf '0A1B2C3D\tdata/a.bmd\r\n# c\n-1\tx y/z.txt\n' >build/fuzz/corpus/manifest/seed.txt
# "player7", "p&ss=1%" and "tên@mail.vn" as UTF-16LE fields separated by NUL units.
python3 -c 'import sys; sys.stdout.buffer.write("player7\0p&ss=1%\0t\u00ean@mail.vn".encode("utf-16-le"))' \
    >build/fuzz/corpus/registration_form/seed.bin
cd build/fuzz
status=0
for target in manifest registration_form; do
    log=${target}_fuzz.log
    if ./tests/unit/${target}_fuzz -max_total_time="$seconds" -max_len=4096 \
        -artifact_prefix="${target}-" corpus/$target >"$log" 2>&1; then
        echo "$target: $(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | grep -oE 'cov: [0-9]+ ft: [0-9]+' | tail -1)"
    else
        tail -40 "$log"
        echo "$target: FAILED (see build/fuzz/$log)"
        status=1
    fi
done
exit $status
