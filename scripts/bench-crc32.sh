#!/usr/bin/env bash
# Builds and runs the CRC-32 benchmark (host preset; the benchmark itself is optimised and
# built without sanitizers). It writes a 1 GiB scratch file in QELT_BENCH_DIR (default
# build/host/bench) and removes it. Extra arguments go to Google Benchmark, for example
# --benchmark_format=json or --benchmark_filter=BM_Crc32/pclmul. Not part of the tests.
set -eu
cd "$(dirname "$0")/.."
bash scripts/deps.sh test
mkdir -p build
cmake --preset host >build/configure-host.log 2>&1 || { cat build/configure-host.log; exit 1; }
cmake --build --preset host --target crc32_bench
echo "CPU: $(grep -m1 '^model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ *//')" >&2
QELT_BENCH_DIR=${QELT_BENCH_DIR:-build/host/bench} exec build/host/bench/crc32_bench "$@"
