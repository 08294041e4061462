# Sourced by the benchmarks and the package test: Python's static file server for one
# folder on a free loopback port.
# qelt_file_server DIR LOG: starts it; sets server_pid and port, false when it did not start.
qelt_file_server() {
    python3 -u -m http.server --bind 127.0.0.1 --directory "$1" 0 >"$2" 2>&1 &
    server_pid=$!
    port=""
    local _
    for _ in $(seq 100); do
        port=$(sed -n 's/.* port \([0-9]*\) .*/\1/p' "$2" | head -n 1)
        [ -n "$port" ] && return 0
        sleep 0.1
    done
    return 1
}
