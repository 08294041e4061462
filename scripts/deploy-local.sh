#!/usr/bin/env bash
# The scaled deployment on one machine, on loopback: a PostgreSQL cluster in a temporary
# folder, two qelt-server instances sharing it, and nginx in front of them with HTTPS from
# a throw-away certificate authority. Stays in the foreground until SIGTERM or Ctrl-C,
# then stops everything it started and removes the folder.
#   scripts/deploy-local.sh          (from the repository root, no arguments)
# Once the stack is up it prints nginx's https URL, "CA file: PATH" (give it to clients;
# it is installed nowhere) and "State: PATH" (shell variables for scripts and tests).
# Optional environment: QELT_DEPLOY_TREE (serve this tree, made by qelt-publish, instead
# of a sample), QELT_DEPLOY_INSTANCES (number of instances, default 2), QELT_DEPLOY_BUILD=0
# (use the built tools as they are), QELT_DEPLOY_NGINX_PORT (default: a free port),
# QELT_DEPLOY_NO_LIMITS=1 (no registration limit per address, for benchmarks only).
set -u
cd "$(dirname "$0")/.."
root=$(pwd)
instances=${QELT_DEPLOY_INSTANCES:-2}

say() { echo "deploy-local: $*" >&2; }

if [ "${QELT_DEPLOY_BUILD:-1}" != 0 ]; then
    bash scripts/deps.sh deploy || exit 1
    mkdir -p build
    cmake --preset tools >build/configure-tools.log 2>&1 || { cat build/configure-tools.log; exit 1; }
    cmake --build --preset tools --target qelt-server qelt-publish >/dev/null || exit 1
fi
server_exe=$root/build/tools/qelt-server
pg_bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
for tool in "$server_exe" "$pg_bin/initdb" "$pg_bin/pg_ctl" /usr/sbin/nginx; do
    [ -x "$tool" ] || { say "missing $tool"; exit 1; }
done

work=$(mktemp -d /tmp/qelt-deploy-XXXXXX) || exit 1
# Services that run as another user reach their own subfolders through this one.
chmod 755 "$work"
pids=()
nginx_pid=""
pg_started=""
as_service_user=()

stop_all() {
    trap - EXIT INT TERM
    [ -n "$nginx_pid" ] && kill -QUIT "$nginx_pid" 2>/dev/null
    local pid
    for pid in "${pids[@]}"; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in "${pids[@]}" $nginx_pid; do
        # Bounded: a process that ignores SIGTERM for 10 s is killed.
        for _ in $(seq 100); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    done
    if [ -n "$pg_started" ]; then
        "${as_service_user[@]}" "$pg_bin/pg_ctl" stop -D "$work/pg/data" -m fast -w -t 30 \
            >/dev/null 2>&1
    fi
    rm -rf "$work"
    say "stopped"
}
trap stop_all EXIT
trap 'exit 0' INT TERM

free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# The update tree: the caller's, or a small published sample.
tree=${QELT_DEPLOY_TREE:-}
if [ -z "$tree" ]; then
    mkdir -p "$work/sample/data"
    printf 'Welcome to ZORVAND Online\r\n' >"$work/sample/data/readme.txt"
    head -c 65536 /dev/urandom >"$work/sample/data/map1.att"
    "$root/build/tools/qelt-publish" "$work/sample" "$work/tree" >/dev/null || exit 1
    tree=$work/tree
fi
tree=$(cd "$tree" && pwd) || exit 1

# PostgreSQL refuses to run as root: the cluster then belongs to an unprivileged user.
mkdir -p "$work/pg"
if [ "$(id -u)" -eq 0 ]; then
    pg_user=postgres
    id "$pg_user" >/dev/null 2>&1 || pg_user=nobody
    chown "$pg_user" "$work/pg"
    as_service_user=(runuser -u "$pg_user" --)
fi
pg_port=$(free_port)
"${as_service_user[@]}" "$pg_bin/initdb" -D "$work/pg/data" -U qelt -A trust -E UTF8 \
    --no-locale >"$work/pg/initdb.log" 2>&1 || { cat "$work/pg/initdb.log"; exit 1; }
pg_started=1
"${as_service_user[@]}" "$pg_bin/pg_ctl" start -D "$work/pg/data" -w -t 60 -l "$work/pg/server.log" \
    -o "-c listen_addresses=127.0.0.1 -c port=$pg_port -c unix_socket_directories=$work/pg" \
    >/dev/null || { cat "$work/pg/server.log"; exit 1; }
"$pg_bin/createdb" -h 127.0.0.1 -p "$pg_port" -U qelt qelt || exit 1
pg_url="postgresql://qelt@127.0.0.1:$pg_port/qelt"

# The instances: each picks a free port and prints its address once ready.
upstreams=""
state_instances=""
register_rate=10r/m
register_burst=5
limit_args=()
if [ "${QELT_DEPLOY_NO_LIMITS:-}" = 1 ]; then
    register_rate=100000r/s
    register_burst=100000
    limit_args=(--register-limit 0)
fi
for n in $(seq "$instances"); do
    log=$work/instance-$n.log
    "$server_exe" --root "$tree" --listen 127.0.0.1 --port 0 --db "$pg_url" \
        --trusted-proxy 127.0.0.1 "${limit_args[@]}" >"$log" 2>&1 &
    pids+=($!)
    port=""
    for _ in $(seq 100); do
        port=$(grep -m 1 -oE '127\.0\.0\.1:[0-9]+' "$log" | cut -d: -f2)
        [ -n "$port" ] && break
        kill -0 "${pids[-1]}" 2>/dev/null || break
        sleep 0.1
    done
    [ -n "$port" ] || { say "instance $n did not start:"; cat "$log" >&2; exit 1; }
    upstreams+="server 127.0.0.1:$port max_fails=1 fail_timeout=5s; "
    state_instances+="QELT_INSTANCE_${n}_URL=http://127.0.0.1:$port
QELT_INSTANCE_${n}_PID=${pids[-1]}
QELT_INSTANCE_${n}_LOG=$log
"
done

# nginx with the template; its master stays a child of this script.
"$root/scripts/test-ca.sh" "$work/ca" || exit 1
mkdir -p "$work/nginx"
nginx_port=${QELT_DEPLOY_NGINX_PORT:-$(free_port)}
user_line=""
[ "$(id -u)" -eq 0 ] && user_line="user nobody $(id -gn nobody);"
sed -e "s|@RUN@|$work/nginx|g" -e "s|@USER@|$user_line|" -e "s|@LISTEN@|127.0.0.1:$nginx_port|" \
    -e "s|@CERT@|$work/ca/server.pem|" -e "s|@KEY@|$work/ca/server.key|" -e "s|@TREE@|$tree|" \
    -e "s|@UPSTREAMS@|$upstreams|" -e "s|@REGISTER_RATE@|$register_rate|" \
    -e "s|@REGISTER_BURST@|$register_burst|" deploy/nginx.conf >"$work/nginx/nginx.conf"
/usr/sbin/nginx -p "$work/nginx" -c "$work/nginx/nginx.conf" -e "$work/nginx/error.log" \
    -g 'daemon off;' &
nginx_pid=$!
url="https://127.0.0.1:$nginx_port"
up=""
for _ in $(seq 100); do
    if curl -s -o /dev/null --cacert "$work/ca/ca.pem" "$url/launcher/manifest.txt"; then
        up=1
        break
    fi
    kill -0 "$nginx_pid" 2>/dev/null || break
    sleep 0.1
done
[ -n "$up" ] || { say "nginx did not start:"; cat "$work/nginx/error.log" >&2; exit 1; }

cat >"$work/state.env" <<STATE
QELT_URL=$url
QELT_CA=$work/ca/ca.pem
QELT_TREE=$tree
QELT_PG_URL=$pg_url
QELT_PG_BIN=$pg_bin
QELT_PG_DATA=$work/pg/data
QELT_PG_USER=${pg_user:-}
QELT_NGINX_PID=$nginx_pid
QELT_NGINX_LOG=$work/nginx/access.log
QELT_INSTANCES=$instances
$state_instances
STATE
echo "$url"
echo "CA file: $work/ca/ca.pem"
echo "State: $work/state.env"
say "PostgreSQL $pg_url, $instances instances, tree $tree; Ctrl-C stops everything"

# Waits in short steps so that a signal is handled at once.
while true; do
    sleep 1 &
    wait $!
done
