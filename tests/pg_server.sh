#!/usr/bin/env bash
# A throwaway PostgreSQL server for the tests: a cluster in DIR, listening only on a Unix socket
# in DIR, with an empty database "importflx" that the tests fill with a schema each. The server
# runs as the unprivileged user "postgres" when started by root (initdb refuses root), else as
# the caller.
#   tests/pg_server.sh start DIR    (an old server in DIR is stopped and removed first)
#   tests/pg_server.sh stop DIR     (stops it and removes DIR)
#   tests/pg_server.sh crash DIR    (stops it at once, as a power cut would; DIR stays)
#   tests/pg_server.sh resume DIR   (starts the server in DIR again)
set -euo pipefail

if [ $# -ne 2 ] || ! [[ "$1" =~ ^(start|stop|crash|resume)$ ]]; then
    echo "usage: $0 start|stop|crash|resume DIR" >&2
    exit 2
fi
action="$1"
dir="$2"
bin="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n1 || true)"
if [ -z "$bin" ] || [ ! -x "$bin/initdb" ]; then
    echo "pg_server: PostgreSQL is not installed (apt-get install postgresql)" >&2
    exit 2
fi

as_owner() {
    if [ "$(id -u)" -eq 0 ]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

stop() {
    if [ -f "$dir/data/postmaster.pid" ]; then
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null 2>&1 || true
    fi
    rm -rf "$dir"
}

run_server() {
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -o \
        "-c listen_addresses='' -c unix_socket_directories='$dir' -c port=5432 -c fsync=off -c full_page_writes=off -c max_connections=200" \
        start >/dev/null || {
        cat "$dir/server.log" >&2
        exit 1
    }
}

case "$action" in
    crash)
        as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w stop >/dev/null
        exit 0
        ;;
    resume)
        run_server
        exit 0
        ;;
esac
stop
if [ "$action" = stop ]; then
    exit 0
fi

mkdir -p "$dir"
if [ "$(id -u)" -eq 0 ]; then
    chown postgres: "$dir"
fi
as_owner "$bin/initdb" -D "$dir/data" -A trust -U postgres -E UTF8 --locale=C.UTF-8 --no-sync \
    >"$dir/initdb.log" 2>&1 || {
    cat "$dir/initdb.log" >&2
    exit 1
}
run_server
as_owner "$bin/createdb" -h "$dir" -p 5432 -U postgres importflx
echo "PostgreSQL for the tests listens in $dir"
