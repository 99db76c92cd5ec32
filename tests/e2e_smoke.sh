#!/usr/bin/env bash
# Starts the demo server on a free port, logs the host in as the demo's
# responsible operator, opens the screen and takes a screenshot.
set -euo pipefail
build="$1"
work="$(mktemp -d)"
# Only the demo server: a bare `kill 0` would signal the whole process group, the test runner included.
trap '[ -z "${DEMO_PID:-}" ] || kill "$DEMO_PID" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
. "$(dirname "$0")/../scripts/demo-server.sh"
start_demo_server "$build/bin" "$work" || { echo "server did not start"; cat "$work/server.log"; exit 1; }
addr="$DEMO_ADDR"
"$build/bin/vorhost" --server "$addr" --operator ANA --password ana123 --local-db "$work/local.sqlite" \
  --locale pt_BR --open VOR01300 --screenshot "$work/shot.png"
test -s "$work/shot.png"
# Every request the host made was served without an error.
if grep -q '"outcome":-' "$work/server.log"; then cat "$work/server.log"; exit 1; fi
echo "e2e: screen opened against $addr"
