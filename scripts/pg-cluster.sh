#!/usr/bin/env bash
# A throw-away PostgreSQL cluster for tests, owned by an unprivileged user, in a temporary folder.
#
#   scripts/pg-cluster.sh start DIR [PORT]   creates and starts a cluster in DIR (must not exist),
#                                            listening on a Unix socket in DIR and on 127.0.0.1:PORT
#                                            (default 54329); prints the connection URI
#   scripts/pg-cluster.sh stop DIR           stops the cluster and removes DIR
#   scripts/pg-cluster.sh pause DIR          stops the server (fast shutdown: sessions are ended,
#                                            open transactions rolled back), keeping DIR
#   scripts/pg-cluster.sh resume DIR         starts a paused server again, on the same port and
#                                            with the same options
#   scripts/pg-cluster.sh standby DIR PRIMARY PORT
#                                            makes DIR a streaming standby of the cluster in the
#                                            folder PRIMARY (pg_basebackup -R), started on PORT,
#                                            with the primary's commits waiting for it
#                                            (synchronous_standby_names); prints its URI
#   scripts/pg-cluster.sh crash DIR          stops the server at once (-m immediate), as a power
#                                            cut would, keeping DIR
#   scripts/pg-cluster.sh promote DIR        makes a standby the primary
#
# The cluster runs with fsync=off, which is all tests need; LEDGERKIT_PG_DURABLE=1 at `start`
# leaves fsync on, so that commits are durable as on a production server (for measurements).
#
# Run as root, the cluster belongs to the `postgres` system user (PostgreSQL refuses to run as
# root); run as anyone else, to that user.
set -euo pipefail

command=${1:-}
dir=${2:-}
port=${3:-54329}
usage="usage: $0 start|stop|pause|resume|crash|promote DIR [PORT] | $0 standby DIR PRIMARY PORT"
[ -n "$command" ] && [ -n "$dir" ] || { echo "$usage" >&2; exit 2; }

bin=$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)
[ -x "$bin/initdb" ] || { echo "PostgreSQL server binaries not found under /usr/lib/postgresql" >&2; exit 1; }

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then runuser -u postgres -- "$@"; else "$@"; fi
}

case "$command" in
  start)
    [ ! -e "$dir" ] || { echo "$dir already exists" >&2; exit 1; }
    mkdir -p "$dir"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$dir"
    as_owner "$bin/initdb" -D "$dir/data" -U ledgerkit --auth=trust -E UTF8 --locale=C.UTF-8 >"$dir/initdb.log" 2>&1 ||
      { cat "$dir/initdb.log" >&2; exit 1; }
    fsync=off
    [ "${LEDGERKIT_PG_DURABLE:-0}" = 0 ] || fsync=on
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -h 127.0.0.1 -p $port -c fsync=$fsync -c max_connections=200" start >/dev/null ||
      { cat "$dir/server.log" >&2; exit 1; }
    echo "postgresql://ledgerkit@127.0.0.1:$port/postgres"
    ;;
  stop)
    [ -d "$dir/data" ] && as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w stop >/dev/null 2>&1 || true
    rm -rf "$dir"
    ;;
  pause)
    [ -d "$dir/data" ] || { echo "$dir holds no cluster" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -m fast -w -t 60 stop >/dev/null
    ;;
  resume)
    [ -d "$dir/data" ] || { echo "$dir holds no cluster" >&2; exit 1; }
    # The port and fsync setting the server last ran with, from the command line it recorded.
    port=$(sed -n 's/.*"-p" "\([0-9]*\)".*/\1/p' "$dir/data/postmaster.opts")
    fsync=$(sed -n 's/.*"-c" "fsync=\([a-z]*\)".*/\1/p' "$dir/data/postmaster.opts")
    [ -n "$port" ] || { echo "no port recorded in $dir/data/postmaster.opts" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -h 127.0.0.1 -p $port -c fsync=${fsync:-off} -c max_connections=200" start >/dev/null ||
      { tail -n 20 "$dir/server.log" >&2; exit 1; }
    ;;
  standby)
    primary=${3:-}
    port=${4:-}
    [ -d "$primary/data" ] && [ -n "$port" ] || { echo "$usage" >&2; exit 2; }
    [ ! -e "$dir" ] || { echo "$dir already exists" >&2; exit 1; }
    primary_port=$(sed -n 's/.*"-p" "\([0-9]*\)".*/\1/p' "$primary/data/postmaster.opts")
    mkdir -p "$dir"
    [ "$(id -u)" -ne 0 ] || chown postgres: "$dir"
    # initdb's trust rules let the cluster's own user replicate over 127.0.0.1.
    as_owner "$bin/pg_basebackup" -h 127.0.0.1 -p "$primary_port" -U ledgerkit -D "$dir/data" -R -X stream \
      >"$dir/basebackup.log" 2>&1 || { cat "$dir/basebackup.log" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 60 \
      -o "-k $dir -h 127.0.0.1 -p $port -c fsync=off -c max_connections=200" start >/dev/null ||
      { tail -n 20 "$dir/server.log" >&2; exit 1; }
    as_owner "$bin/psql" -X -q -h 127.0.0.1 -p "$primary_port" -U ledgerkit -d postgres \
      -c "ALTER SYSTEM SET synchronous_standby_names = '*'" -c "SELECT pg_reload_conf()" >/dev/null
    # Ready once the primary counts the standby as synchronous.
    for _ in $(seq 1 600); do
      state=$(as_owner "$bin/psql" -X -At -h 127.0.0.1 -p "$primary_port" -U ledgerkit -d postgres \
        -c "SELECT sync_state FROM pg_stat_replication" 2>/dev/null || true)
      [ "$state" = sync ] && break
      sleep 0.1
    done
    [ "$state" = sync ] || { echo "the standby in $dir never became synchronous" >&2; exit 1; }
    echo "postgresql://ledgerkit@127.0.0.1:$port/postgres"
    ;;
  crash)
    [ -d "$dir/data" ] || { echo "$dir holds no cluster" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -m immediate -w -t 60 stop >/dev/null
    ;;
  promote)
    [ -d "$dir/data" ] || { echo "$dir holds no cluster" >&2; exit 1; }
    as_owner "$bin/pg_ctl" -D "$dir/data" -w -t 60 promote >/dev/null
    ;;
  *)
    echo "$usage" >&2
    exit 2
    ;;
esac
