#!/usr/bin/env bash
# The fleet on one machine under load and abuse: a private PostgreSQL holding
# vor_load's data, three servers on it and nginx in front (scripts/cluster.sh),
# then vor_load's fleet scenarios against them:
#   H9   one session on every server, failed logins counted together
#   H10  lockout cases through nginx, each for 20 s (--short: 5 s)
#   H8   H5's load through nginx for 40 s, server 1 killed at 10 s and started
#        again at 20 s (--short: 12 s, 4 s, 8 s)
#   B9   throughput and processor time, one server and nginx over three (not with --short)
#
# scripts/fleet-check.sh [--short]     (VOR_BUILD_DIR: the build to use, default build)
# Exits 0 when every target is met, 1 when one is missed or the fleet did not
# start, 77 (skipped) when nginx or PostgreSQL's server is not installed.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${VOR_BUILD_DIR:-$ROOT/build}"
BIN="$(cd "$BUILD" 2>/dev/null && pwd)/bin"
short=0
[ "${1:-}" = --short ] && short=1

say() { printf 'fleet check: %s\n' "$*" >&2; }

if ! command -v nginx >/dev/null && [ ! -x /usr/sbin/nginx ]; then
  say "skipped: nginx is not installed (Debian package nginx-light)"; exit 77
fi
if ! ls /usr/lib/postgresql/*/bin/initdb >/dev/null 2>&1; then
  say "skipped: PostgreSQL's server is not installed (Debian package postgresql)"; exit 77
fi
for program in vor_load vor01300-server; do
  [ -x "$BIN/$program" ] || { say "$BIN/$program is not built"; exit 1; }
done

# shellcheck source=scripts/private-postgres.sh
. "$ROOT/scripts/private-postgres.sh"
# shellcheck source=scripts/cluster.sh
. "$ROOT/scripts/cluster.sh"

work="$(mktemp -d "${TMPDIR:-/tmp}/vor-fleet-check.XXXXXX")"
load_pid=""
cleanup() {
  [ -n "$load_pid" ] && kill -TERM "$load_pid" 2>/dev/null && wait "$load_pid" 2>/dev/null
  stop_cluster
  stop_private_postgres
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

start_private_postgres || { say "the private PostgreSQL did not start"; exit 1; }
"$BIN/vor_load" --prepare-fleet-db "$VOR_TEST_POSTGRESQL" || { say "the fleet's database could not be filled"; exit 1; }
start_cluster "$BIN" "$work" 3 || { say "the fleet did not start"; exit 1; }
say "nginx on $CLUSTER_ADDR, servers on ${CLUSTER_PORTS[*]}, PostgreSQL at $VOR_TEST_POSTGRESQL"

fleet=(--fleet "$CLUSTER_ADDR" --fleet-ports "$(IFS=,; echo "${CLUSTER_PORTS[*]}")" --postgresql "$VOR_TEST_POSTGRESQL")
rc=0
if [ $short -eq 1 ]; then
  lockout_seconds=5 load_seconds=12 kill_at=4 restart_at=8
else
  lockout_seconds=20 load_seconds=40 kill_at=10 restart_at=20
fi

"$BIN/vor_load" "${fleet[@]}" --scenario H9,H10 --seconds "$lockout_seconds" || rc=1

# H8: vor_load keeps its clients going while server 1 is killed and, later,
# started again on the same port.
"$BIN/vor_load" "${fleet[@]}" --scenario H8 --seconds "$load_seconds" &
load_pid=$!
sleep "$kill_at"
say "killing server 1 (process ${CLUSTER_PIDS[0]})"
kill -KILL "${CLUSTER_PIDS[0]}"
wait "${CLUSTER_PIDS[0]}" 2>/dev/null
sleep "$((restart_at - kill_at))"
if restart_cluster_server 0; then
  say "server 1 started again (process ${CLUSTER_PIDS[0]})"
else
  say "server 1 did not start again; see $work/server-0.log"; rc=1
fi
wait "$load_pid" || rc=1
load_pid=""

if [ $short -eq 0 ]; then
  postmaster="$(head -n 1 "$PG_DIR/data/postmaster.pid" 2>/dev/null)"
  "$BIN/vor_load" "${fleet[@]}" --scenario B9 --seconds 10 --fleet-pids "$(IFS=,; echo "${CLUSTER_PIDS[*]}")" \
    --postgres-pid "${postmaster:-0}" --nginx-pid "$NGINX_PID" || rc=1
fi

if [ $rc -eq 0 ]; then
  say "all targets met"
else
  say "a target was missed; the end of each server's log:"
  for log in "$work"/server-*.log; do echo "== $log"; tail -n 5 "$log"; done >&2
fi
exit $rc
