#!/usr/bin/env bash
# A throwaway PostgreSQL server for the database tests, started once per ctest run.
#   pg-test-server.sh start DIR   initdb, start on a free loopback port, create a user with a
#                                 password (scram) and a database, write DIR/connection.env
#   pg-test-server.sh stop DIR    stop the server and remove its files
#   pg-test-server.sh halt DIR    stop the server but keep its data (a database that goes away)
#   pg-test-server.sh resume DIR  start a halted server again on the same port
# Run as root (as CI does) the server runs as the postgres user; run as another user it runs as
# that user. The data lives under /tmp so that the postgres user can reach it from any clone.
set -euo pipefail

action=${1:-}
dir=${2:-}
if [[ -z $action || -z $dir ]]; then
    echo "usage: $0 start|stop|halt|resume DIR" >&2
    exit 2
fi

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
if [[ -z $bin ]]; then
    echo "PostgreSQL server binaries not found (scripts/install-deps.sh installs them)" >&2
    exit 1
fi

as_server() {
    if [[ $(id -u) -eq 0 ]]; then
        runuser -u postgres -- "$@"
    else
        "$@"
    fi
}

stop_server() {
    local data
    [[ -f $dir/server.path ]] || return 0
    data=$(cat "$dir/server.path")
    if [[ -f $data/data/postmaster.pid ]]; then
        as_server "$bin/pg_ctl" -D "$data/data" -m fast -w stop >/dev/null || true
    fi
    rm -rf "$data"
    rm -f "$dir/server.path" "$dir/connection.env"
}

server_data() {
    [[ -f $dir/server.path ]] || { echo "no server in $dir" >&2; exit 1; }
    cat "$dir/server.path"
}

case $action in
stop)
    stop_server
    exit 0
    ;;
halt)
    as_server "$bin/pg_ctl" -D "$(server_data)/data" -m fast -w stop >/dev/null
    exit 0
    ;;
resume)
    data=$(server_data)
    port=$(sed -n 's/^TIDEWELL_PG_PORT=//p' "$dir/connection.env")
    as_server "$bin/pg_ctl" -D "$data/data" -l "$data/log" -w -t 30 \
        -o "-p $port -k $data -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null
    exit 0
    ;;
start) ;;
*)
    echo "unknown action: $action" >&2
    exit 2
    ;;
esac

# A server left behind by an aborted run goes first.
mkdir -p "$dir"
stop_server

data=$(mktemp -d /tmp/tidewell-pg.XXXXXX)
echo "$data" >"$dir/server.path"
if [[ $(id -u) -eq 0 ]]; then
    chown postgres:postgres "$data"
fi
chmod 700 "$data"

as_server "$bin/initdb" -D "$data/data" -U postgres -E UTF8 --locale=C.UTF-8 \
    --auth-local=trust --auth-host=scram-sha-256 >"$data/initdb.log"

# Another run may take the port between the check and the start: try a few.
port=
for _ in $(seq 1 20); do
    candidate=$((20000 + RANDOM % 20000))
    if (exec 3<>"/dev/tcp/127.0.0.1/$candidate") 2>/dev/null; then
        continue
    fi
    if as_server "$bin/pg_ctl" -D "$data/data" -l "$data/log" -w -t 30 \
        -o "-p $candidate -k $data -c listen_addresses=127.0.0.1 -c fsync=off" start >/dev/null; then
        port=$candidate
        break
    fi
done
if [[ -z $port ]]; then
    echo "could not start PostgreSQL; log:" >&2
    cat "$data/log" >&2 || true
    exit 1
fi

user=tidewell
database=tidewell_test
password=$(head -c 12 /dev/urandom | od -An -tx1 | tr -d ' \n')
as_server "$bin/psql" -h "$data" -p "$port" -U postgres -d postgres -q -v ON_ERROR_STOP=1 \
    -c "SET password_encryption = 'scram-sha-256'" \
    -c "CREATE ROLE $user LOGIN PASSWORD '$password'" \
    -c "CREATE DATABASE $database OWNER $user ENCODING 'UTF8'" >/dev/null

cat >"$dir/connection.env" <<EOF
TIDEWELL_PG_HOST=127.0.0.1
TIDEWELL_PG_PORT=$port
TIDEWELL_PG_USER=$user
TIDEWELL_PG_PASSWORD=$password
TIDEWELL_PG_DATABASE=$database
EOF
echo "PostgreSQL test server on 127.0.0.1:$port (data in $data)"
