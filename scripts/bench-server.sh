#!/usr/bin/env bash
# Benchmark (not a test): qelt-server and nginx side by side in one run, serving the same
# tree on loopback. wrk measures requests/s and p99 latency for GET /launcher/status and a
# 64 KiB patch file, MB/s for a 1 GiB file; a Python client holds 2,000 idle connections
# while the peak RSS is read and a fresh request is timed; wrk posts registrations.
# Usage: scripts/bench-server.sh [seconds per run, default 10]
set -u
cd "$(dirname "$0")/.."
secs=${1:-10}
bash scripts/deps.sh bench || exit 1
cmake --preset tools >/dev/null || exit 1
cmake --build --preset tools --target qelt-server || exit 1

work=$(mktemp -d /tmp/qelt-bench.XXXXXX)
pids=()
cleanup() {
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

tree=$work/tree
mkdir -p "$tree/launcher" "$tree/patch/data" "$tree/downloads" "$work/nginx"
echo online >"$tree/launcher/status"
head -c 65536 /dev/urandom >"$tree/patch/data/map64k.att"
head -c 1073741824 /dev/zero >"$tree/downloads/Qelt-Data.exe"

free_port() { /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
qport=$(free_port)
nport=$(free_port)

build/tools/qelt-server --root "$tree" --port "$qport" --threads 2 --register-limit 0 \
    --db "sqlite:$work/qelt.db" >"$work/qelt.log" 2>&1 &
pids+=($!)
qpid=$!
cat >"$work/nginx/nginx.conf" <<CONF
worker_processes 2;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 8192; }
http {
    access_log $work/nginx/access.log;
    client_body_temp_path $work/nginx/body;
    proxy_temp_path $work/nginx/proxy;
    fastcgi_temp_path $work/nginx/fastcgi;
    uwsgi_temp_path $work/nginx/uwsgi;
    scgi_temp_path $work/nginx/scgi;
    default_type application/octet-stream;
    sendfile on;
    tcp_nopush on;
    keepalive_requests 1000000;
    server {
        listen 127.0.0.1:$nport;
        root $tree;
    }
}
CONF
nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -g 'daemon off; user root;' &
pids+=($!)
npid=$!
sleep 1

# wrk_line NAME URL [wrk options]: requests/s, p99 and transfer rate from one wrk run.
wrk_line() {
    local name=$1 url=$2
    shift 2
    wrk --latency -d "${secs}s" "$@" "$url" >"$work/wrk.out" 2>&1
    awk -v name="$name" '
        /Requests\/sec/ { rps = $2 }
        /Transfer\/sec/ { rate = $2 }
        / 99%/ { p99 = $2 }
        END { printf "%-34s %10s req/s  p99 %8s  %10s/s\n", name, rps, p99, rate }' "$work/wrk.out"
}

echo "== $(nproc) CPUs, ${secs} s per run, wrk -t2 -c64 (1 GiB: -t1 -c1) =="
for target in qelt:$qport nginx:$nport; do
    name=${target%%:*}
    port=${target##*:}
    wrk_line "$name GET /launcher/status" "http://127.0.0.1:$port/launcher/status" -t2 -c64
    wrk_line "$name GET /patch/data/map64k.att" "http://127.0.0.1:$port/patch/data/map64k.att" -t2 -c64
    wrk_line "$name GET 1 GiB file" "http://127.0.0.1:$port/downloads/Qelt-Data.exe" -t1 -c1
done

# Peak RSS while 2,000 connections sit idle, and how long a fresh request then takes.
idle_check() {
    local name=$1 port=$2 pid=$3
    /usr/bin/python3 - "$port" "$pid" "$name" <<'PY'
import socket, sys, time, http.client
port, pid, name = int(sys.argv[1]), sys.argv[2], sys.argv[3]
def rss_kib(p):
    total = 0
    for child in [p] + open("/proc/%s/task/%s/children" % (p, p)).read().split():
        for line in open("/proc/%s/status" % child):
            if line.startswith("VmRSS:"):
                total += int(line.split()[1])
    return total
before = rss_kib(pid)
idle = [socket.create_connection(("127.0.0.1", port)) for _ in range(2000)]
time.sleep(1)
held = rss_kib(pid)
start = time.monotonic()
c = http.client.HTTPConnection("127.0.0.1", port, timeout=5)
c.request("GET", "/launcher/status")
status = c.getresponse().status
took = (time.monotonic() - start) * 1000
alive = 0
for s in idle:  # still open: nothing to read yet, no end of stream
    s.setblocking(False)
    try:
        s.recv(1)
    except BlockingIOError:
        alive += 1
    except OSError:
        pass
print("%-34s RSS %d -> %d MiB with 2000 idle (%d still open); fresh GET %d in %.1f ms"
      % (name + " 2,000 idle connections", before // 1024, held // 1024, alive, status, took))
PY
}
idle_check qelt "$qport" "$qpid"
idle_check nginx "$nport" "$npid"

cat >"$work/register.lua" <<'LUA'
local n = 0
request = function()
    n = n + 1
    local body = string.format("account=b%d%05d&password=secret1&email=b%%40x.vn", math.random(1000, 9999), n)
    return wrk.format("POST", "/launcher/register",
        {["Content-Type"] = "application/x-www-form-urlencoded"}, body)
end
LUA
wrk_line "qelt POST /launcher/register" "http://127.0.0.1:$qport/launcher/register" -t2 -c8 -s "$work/register.lua"
/usr/bin/python3 -c "import sqlite3,sys; print('accounts stored:', sqlite3.connect(sys.argv[1]).execute('select count(*) from accounts').fetchone()[0])" "$work/qelt.db"
