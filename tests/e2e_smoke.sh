#!/usr/bin/env bash
# Starts the demo server on a free port, logs the host in as the demo's
# responsible operator, opens the screen and takes a screenshot.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
trap 'kill $spid 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
mkfifo "$work/out"
"$build/bin/vor01300-server" --database "sqlite:$work/demo.sqlite" --demo --listen 127.0.0.1:0 \
  >"$work/out" 2>"$work/server.log" &
spid=$!
exec 3<"$work/out"
addr=""
while IFS= read -r -t 30 line <&3; do
  case "$line" in "listening on "*) addr="${line#listening on }"; break;; esac
done
[ -n "$addr" ] || { echo "server did not start"; cat "$work/server.log"; exit 1; }
sqlite3 "$work/local.sqlite" "CREATE TABLE IF NOT EXISTS FILIAL(CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30));
  ATTACH '$work/demo.sqlite' AS srv; INSERT OR REPLACE INTO FILIAL SELECT CDFILIAL, NMFILIAL FROM srv.FILIAL;"
"$build/bin/vorhost" --server "$addr" --operator ANA --password ana123 --local-db "$work/local.sqlite" \
  --locale pt_BR --open VOR01300 --screenshot "$work/shot.png"
test -s "$work/shot.png"
# Every request the host made was served without an error.
if grep -q '"outcome":-' "$work/server.log"; then cat "$work/server.log"; exit 1; fi
echo "e2e: screen opened against $addr"
