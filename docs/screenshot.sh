#!/usr/bin/env bash
# Saves pictures of the real approval screen into docs/screenshots/: the screen
# as it opens and after loading a demo project (branch 1, project 1 by default).
# Starts its own demo server on a free loopback port and stops it afterwards.
#   docs/screenshot.sh [BUILD_DIR] [BRANCH] [PROJECT]
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
BUILD="${1:-$ROOT/build}"
BRANCH="${2:-1}"
PROJECT="${3:-1}"
OUT="$ROOT/docs/screenshots"

cmake --build "$BUILD" -j2 --target vor01300-server vor01300-screenshot >/dev/null
WORK="$(mktemp -d)"
trap 'kill -TERM ${SPID:-0} 2>/dev/null || true; wait ${SPID:-0} 2>/dev/null || true; rm -rf "$WORK"' EXIT

"$BUILD/bin/vor01300-server" --database "sqlite:$WORK/demo.sqlite" --demo --listen 127.0.0.1:0 \
  >"$WORK/server.out" 2>"$WORK/server.log" &
SPID=$!
ADDR=""
for _ in $(seq 1 100); do
  ADDR="$(sed -n 's/^listening on //p' "$WORK/server.out" | head -n1)"
  [ -n "$ADDR" ] && break
  sleep 0.1
done
[ -n "$ADDR" ] || { echo "the demo server did not start; see $WORK/server.log" >&2; exit 1; }

# The screen reads its branches from the host's local database: copy the demo's.
sqlite3 "$WORK/local.sqlite" "CREATE TABLE IF NOT EXISTS FILIAL(CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30));
  ATTACH '$WORK/demo.sqlite' AS srv; INSERT OR REPLACE INTO FILIAL SELECT CDFILIAL, NMFILIAL FROM srv.FILIAL;"

mkdir -p "$OUT"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$BUILD/bin/vor01300-screenshot" \
  --server "$ADDR" --operator ANA --password ana123 --local-db "$WORK/local.sqlite" \
  --branch "$BRANCH" --project "$PROJECT" --out "$OUT"
