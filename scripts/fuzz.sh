#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the parser and form code instrumented too) and
# runs each for a bounded time (seconds each, default 60): the manifest parser, the signed
# file list with its signature file, and the registration form encoding with the
# UTF-8/UTF-16 conversions. Prints each target's final coverage; findings land in build/fuzz/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh test
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DQELT_FUZZ=ON -DQELT_SANITIZE=ON -DQELT_BUILD_BENCH=OFF -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    >build/fuzz-configure.log 2>&1 || { cat build/fuzz-configure.log; exit 1; }
cmake --build build/fuzz --target manifest_fuzz signed_list_fuzz registration_form_fuzz
mkdir -p build/fuzz/corpus/manifest build/fuzz/corpus/signed_list build/fuzz/corpus/registration_form
printf '0A1B2C3D\tdata/a.bmd\r\n# c\n-1\tx y/z.txt\n' >build/fuzz/corpus/manifest/seed.txt
sha=ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad
printf 'qelt-files 1\nsequence 7\ncreated 2024-02-29T23:59:59Z\npackage 9 %s\nfile 5 0A1B2C3D %s a b/c.txt\nfile 0 00000000 %s main.exe\n' \
    "$sha" "$sha" "$sha" >build/fuzz/corpus/signed_list/seed.txt
printf 'ecdsa-p256 %s%s\ned25519 %s\n' "$sha" "$sha" "$sha" >build/fuzz/corpus/signed_list/signatures.txt
# "player7", "p&ss=1%" and "tên@mail.vn" as UTF-16LE fields separated by NUL units.
python3 -c 'import sys; sys.stdout.buffer.write("player7\0p&ss=1%\0t\u00ean@mail.vn".encode("utf-16-le"))' \
    >build/fuzz/corpus/registration_form/seed.bin
cd build/fuzz
status=0
for target in manifest signed_list registration_form; do
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
