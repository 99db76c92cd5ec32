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
trap 'kill -TERM ${DEMO_PID:-0} 2>/dev/null || true; wait ${DEMO_PID:-0} 2>/dev/null || true; rm -rf "$WORK"' EXIT

# shellcheck source=../scripts/demo-server.sh
. "$ROOT/scripts/demo-server.sh"
start_demo_server "$BUILD/bin" "$WORK" || { echo "the demo server did not start; see $WORK/server.log" >&2; exit 1; }
ADDR="$DEMO_ADDR"

mkdir -p "$OUT"
QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}" "$BUILD/bin/vor01300-screenshot" \
  --server "$ADDR" --operator ANA --password ana123 --local-db "$WORK/local.sqlite" \
  --branch "$BRANCH" --project "$PROJECT" --out "$OUT"
