#!/usr/bin/env bash
# Benchmark of the scaled deployment (not a test), with wrk on loopback:
#   - requests/s for the manifest and a 64 KiB patch file through the nginx edge (HTTPS)
#     and from one qelt-server serving the same tree (HTTP);
#   - registrations/s through nginx with one and with two instances behind it.
# Usage: scripts/bench-deploy.sh [seconds per run, default 10] [connections, default 32]
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
seconds=${1:-10}
connections=${2:-32}

bash scripts/deps.sh bench || exit 1
cmake --preset tools >/dev/null || exit 1
cmake --build --preset tools --target qelt-server qelt-publish >/dev/null || exit 1

work=$(mktemp -d /tmp/qelt-bench-deploy-XXXXXX)
chmod 755 "$work"
stack=""
direct=""
cleanup() {
    [ -n "$stack" ] && kill -TERM "$stack" 2>/dev/null && wait "$stack"
    [ -n "$direct" ] && kill -TERM "$direct" 2>/dev/null && wait "$direct"
    rm -rf "$work"
}
trap cleanup EXIT

mkdir -p "$work/client/data"
printf 'Welcome\r\n' >"$work/client/data/readme.txt"
head -c 65536 /dev/urandom >"$work/client/data/map64k.att"
build/tools/qelt-publish "$work/client" "$work/tree" >/dev/null || exit 1

# Starts deploy-local.sh with N instances; sets url and ca.
start_stack() {
    QELT_DEPLOY_TREE=$work/tree QELT_DEPLOY_BUILD=0 QELT_DEPLOY_NO_LIMITS=1 \
        QELT_DEPLOY_INSTANCES=$1 bash scripts/deploy-local.sh >"$work/stack.out" 2>"$work/stack.err" &
    stack=$!
    for _ in $(seq 600); do
        grep -q '^State: ' "$work/stack.out" && break
        sleep 0.1
    done
    url=$(head -n 1 "$work/stack.out")
    [ -n "$url" ] || { cat "$work/stack.err"; exit 1; }
}
stop_stack() {
    kill -TERM "$stack" && wait "$stack"
    stack=""
}

# wrk's summary as "requests/s p99", and how many answers were not 2xx.
rate() {
    wrk -t 2 -c "$connections" -d "${seconds}s" --latency "$@" 2>&1 |
        awk '/Requests\/sec/ {r=$2} /^ +99%/ {p=$2} /Non-2xx/ {n=$NF}
             END {printf "%8.0f req/s  p99 %s%s\n", r, p, n ? "  (" n " not 2xx)" : ""}'
}

# Every request registers a new name: thread letter, run letter and a counter.
cat >"$work/register.lua" <<'LUA'
local threads = 0
function setup(thread)
    threads = threads + 1
    thread:set("id", string.char(96 + threads))
end
local n = 0
request = function()
    n = n + 1
    local body = string.format("account=b%s%s%06d&password=secret1&email=b%%40x.vn", run, id, n)
    return wrk.format("POST", "/launcher/register",
        {["Content-Type"] = "application/x-www-form-urlencoded"}, body)
end
LUA

echo "Machine: $(nproc) cores, $(awk '/model name/ {$1=$2=$3=""; print; exit}' /proc/cpuinfo | sed 's/^ *//'), $(free -g | awk '/Mem:/ {print $2}') GiB; $(nginx -v 2>&1 | sed 's/.*: //'), PostgreSQL $(ls /usr/lib/postgresql | sort -V | tail -n 1)"
echo "wrk -t 2 -c $connections -d ${seconds}s, loopback"

start_stack 2
# All the load comes from 127.0.0.1: no limit per address for this instance.
build/tools/qelt-server --root "$work/tree" --listen 127.0.0.1 --port 0 --db "sqlite:$work/bench.db" \
    --connections-per-address 0 >"$work/direct.log" 2>&1 &
direct=$!
for _ in $(seq 100); do
    port=$(grep -m 1 -oE '127\.0\.0\.1:[0-9]+' "$work/direct.log" | cut -d: -f2)
    [ -n "$port" ] && break
    sleep 0.1
done
for path in /launcher/manifest.txt /patch/data/map64k.att; do
    echo "GET $path  nginx edge (HTTPS):     $(rate "$url$path")"
    echo "GET $path  one qelt-server (HTTP): $(rate "http://127.0.0.1:$port$path")"
done
kill -TERM "$direct" && wait "$direct"
direct=""
{ echo 'local run = "t"'; cat "$work/register.lua"; } >"$work/r2.lua"
echo "POST /launcher/register  nginx + 2 instances: $(rate -s "$work/r2.lua" "$url")"
stop_stack
start_stack 1
{ echo 'local run = "o"'; cat "$work/register.lua"; } >"$work/r1.lua"
echo "POST /launcher/register  nginx + 1 instance:  $(rate -s "$work/r1.lua" "$url")"
stop_stack
