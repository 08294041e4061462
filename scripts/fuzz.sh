#!/usr/bin/env bash
# Builds the libFuzzer target of the manifest parser with clang and runs it for a bounded
# time (seconds, default 60). Findings land in build/fuzz/.
set -eu
cd "$(dirname "$0")/.."
seconds=${1:-60}
bash scripts/deps.sh test
cmake -S . -B build/fuzz -G Ninja -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_C_COMPILER=clang \
    -DQELT_FUZZ=ON -DQELT_SANITIZE=ON -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build build/fuzz --target manifest_fuzz
mkdir -p build/fuzz/corpus
printf '0A1B2C3D\tdata/a.bmd\r\n# c\n-1\tx y/z.txt\n' >build/fuzz/corpus/seed.txt
cd build/fuzz
./tests/unit/manifest_fuzz -max_total_time="$seconds" -max_len=4096 corpus
