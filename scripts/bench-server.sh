#!/usr/bin/env bash
# Benchmark (not a test): qelt-server and nginx side by side in one run, serving the same
# tree on loopback. wrk measures requests/s and p99 latency for GET /launcher/status and a
# 64 KiB patch file, MB/s for a 1 GiB file; a Python client holds 2,000 idle connections
# while the peak RSS is read and a fresh request is timed; wrk posts registrations; last,
# 10,050 connections trickle from one address while clients at it and at another are timed
# (scripts/bench-trickle.py).
# Usage: scripts/bench-server.sh [seconds per run, default 10] [rounds, default 3]
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

# All the load comes from 127.0.0.1: no limit per address for this instance.
build/tools/qelt-server --root "$tree" --port "$qport" --threads 2 --register-limit 0 \
    --connections-per-address 0 \
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

# wrk_run URL [wrk options]: "requests/s p99 bytes/s" of one wrk run.
wrk_run() {
    local url=$1
    shift
    wrk --latency -d "${secs}s" "$@" "$url" >"$work/wrk.out" 2>&1
    awk '
        function bytes(v) { u = substr(v, length(v) - 1); n = v + 0
            return u == "GB" ? n * 1073741824 : u == "MB" ? n * 1048576 : u == "KB" ? n * 1024 : n }
        function ms(v) { n = v + 0; return v ~ /us$/ ? n / 1000 : v ~ /ms$/ ? n : n * 1000 }
        /Requests\/sec/ { rps = $2 }
        /Transfer\/sec/ { rate = bytes($2) }
        / 99%/ { p99 = ms($2) }
        END { printf "%.2f %.2f %.0f\n", rps, p99, rate }' "$work/wrk.out"
}

# compare NAME PATH [wrk options]: qelt-server and nginx in alternating order, $rounds
# times each, so that other load on the machine falls on both; the run of each with the
# highest transfer rate counts.
compare() {
    local name=$1 path=$2 round best_q="0 0 0" best_n="0 0 0" out
    shift 2
    for round in $(seq "$rounds"); do
        for server in q n; do
            [ $((round % 2)) -eq 0 ] && server=$([ $server = q ] && echo n || echo q)
            if [ $server = q ]; then
                out=$(wrk_run "http://127.0.0.1:$qport$path" "$@")
                [ "${out##* }" -gt "${best_q##* }" ] && best_q=$out
            else
                out=$(wrk_run "http://127.0.0.1:$nport$path" "$@")
                [ "${out##* }" -gt "${best_n##* }" ] && best_n=$out
            fi
        done
    done
    echo "$best_q $best_n" | awk -v name="$name" '{
        printf "%-26s qelt %9.1f req/s p99 %7.2f ms %7.1f MB/s | nginx %9.1f req/s p99 %7.2f ms %7.1f MB/s | ratio %.2f\n",
            name, $1, $2, $3 / 1048576, $4, $5, $6 / 1048576, ($6 > 0 ? $3 / $6 : 0) }'
}

rounds=${2:-3}
echo "== $(nproc) CPUs, load $(cut -d' ' -f1-3 /proc/loadavg), best of $rounds runs of ${secs} s each =="
compare "GET /launcher/status" /launcher/status -t2 -c64
compare "GET 64 KiB patch file" /patch/data/map64k.att -t2 -c64
compare "GET 1 GiB file (1 conn)" /downloads/Qelt-Data.exe -t1 -c1 --timeout 60s

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
-- Unique names across wrk's threads: thread number and a counter.
local threads = 0
function setup(thread)
    threads = threads + 1
    thread:set("id", threads)
end
local n = 0
request = function()
    n = n + 1
    local body = string.format("account=t%dn%06d&password=secret1&email=b%%40x.vn", id, n)
    return wrk.format("POST", "/launcher/register",
        {["Content-Type"] = "application/x-www-form-urlencoded"}, body)
end
LUA
echo "qelt POST /launcher/register (wrk -t2 -c8): $(wrk_run "http://127.0.0.1:$qport/launcher/register" -t2 -c8 -s "$work/register.lua" | awk '{printf "p99 %.0f ms", $2}')"
/usr/bin/python3 -c "import sqlite3,sys; n=sqlite3.connect(sys.argv[1]).execute('select count(*) from accounts').fetchone()[0]; print('accounts committed: %d, %.1f per second' % (n, n / float(sys.argv[2])))" "$work/qelt.db" "$secs"

echo "== 10,050 connections trickling from 127.0.0.1, qelt-server with its default limits =="
/usr/bin/python3 scripts/bench-trickle.py build/tools/qelt-server 10050 30
