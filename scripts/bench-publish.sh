#!/usr/bin/env bash
# Publishing and packing benchmark (not a test). Usage: bench-publish.sh [files] [MiB] [rounds]
# Generates a client of that many files and size (default 10000 files, 2048 MiB; each file
# half random bytes, half repeated text) under build/bench-publish, then times, in one run:
# cat of every file to /dev/null, a first publish, a re-publish of the unchanged client and
# a re-publish with 1% of the files changed, each by this qelt-publish (AFTER) and by an
# older one (BEFORE, the unversioned publisher of commit 59ad3f5 unless QELT_PUBLISH_BEFORE
# names another binary; built once under build/bench-publish-before), side by side on the
# same client, the last two steps repeated rounds times (default 3, another 1% each time);
# then qelt-pack --arch x64 and the package's extraction under Wine. Deletes
# what it made at the end, except the older publisher's build.
set -u
root=$(cd "$(dirname "$0")/.." && pwd)
files=${1:-10000}
mib=${2:-2048}
rounds=${3:-3}
cd "$root"
cmake --preset tools >/dev/null && cmake --build --preset tools --target qelt-publish qelt-pack >/dev/null ||
    exit 1
before=${QELT_PUBLISH_BEFORE:-}
if [ -z "$before" ]; then
    old=$root/build/bench-publish-before
    before=$old/build/tools/qelt-publish
    if [ ! -x "$before" ]; then
        rm -rf "$old" && mkdir -p "$old" && git archive 59ad3f5 | tar -x -C "$old" &&
            (cd "$old" && cmake --preset tools >/dev/null &&
                cmake --build --preset tools --target qelt-publish >/dev/null) ||
            { echo "cannot build the older qelt-publish"; exit 1; }
    fi
fi
source scripts/wine-env.sh
qelt_wine_prefix >/dev/null
work=$root/build/bench-publish
rm -rf "$work"
mkdir -p "$work"
trap 'rm -rf "$work"' EXIT

python3 - "$work/client" "$files" "$mib" <<'EOF'
import os, random, sys
root, count, mib = sys.argv[1], int(sys.argv[2]), int(sys.argv[3])
random.seed(7)
total = mib << 20
sizes = [random.randint(1, 2 * total // count) for _ in range(count)]
scale = total / sum(sizes)
text = b"Qelt client data, level geometry and textures. " * 4096
pool = os.urandom(8 << 20)
for i, size in enumerate(sizes):
    size = max(1, int(size * scale))
    path = os.path.join(root, "data%02d" % (i % 50), "sub%d" % (i % 7), "file%05d.bin" % i)
    os.makedirs(os.path.dirname(path), exist_ok=True)
    half = size // 2
    start = random.randint(0, len(pool) - 1)
    body = bytearray()
    while len(body) < half:
        body += pool[start:start + half - len(body)]
        start = 0
    while len(body) < size:
        body += text[:size - len(body)]
    with open(path, "wb") as f:
        f.write(body)
EOF
bytes=$(du -sb "$work/client" | cut -f1)
mb=$(awk -v b="$bytes" 'BEGIN { print b / 1e6 }')

now() { date +%s.%N; }
timed() { # timed LABEL COMMAND...: prints wall time and MB/s of the client size
    local start end
    start=$(now)
    "${@:2}" >/dev/null || echo "$1 failed"
    end=$(now)
    awk -v l="$1" -v s="$start" -v e="$end" -v mb="$mb" \
        'BEGIN { printf "%-46s %7.2f s  %7.0f MB/s\n", l, e - s, mb / (e - s) }'
}
catall() { find "$work/client" -type f -print0 | xargs -0 cat >/dev/null; }

printf 'client: %d files, %.0f MB\n' "$files" "$mb"
catall # the page cache holds the client for every step below, as it would after a build
timed "cat of every file" catall
# BEFORE and AFTER take turns on each step, each into its own tree.
both() { # both LABEL: one publish by each
    timed "BEFORE qelt-publish, $1" "$before" "$work/client" "$work/tree-before"
    timed "AFTER  qelt-publish, $1" build/tools/qelt-publish "$work/client" "$work/tree"
}
both "first publish"
for round in $(seq "$rounds"); do
    both "unchanged ($round)"
done
for round in $(seq "$rounds"); do
    find "$work/client" -type f | sort | awk -v r="$round" 'NR % 100 == r' | while read -r f; do
        head -c "$(stat -c %s "$f")" /dev/urandom >"$f"
    done
    both "1% of files changed ($round)"
done
timed "cat of every file (again)" catall
timed "qelt-pack --arch x64" build/tools/qelt-pack --arch x64 "$work/client" "$work/Qelt-Data.exe"
rm -rf "$work/tree" "$work/tree-before"
echo "package: $(($(stat -c %s "$work/Qelt-Data.exe") / 1000000)) MB"
mkdir -p "$work/out"
timed "extraction under Wine" "$QELT_WINE" "$work/Qelt-Data.exe" "-oZ:$work/out" -y
