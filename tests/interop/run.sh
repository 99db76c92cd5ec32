#!/usr/bin/env bash
# Starts the demo server and runs rpc_test.js with the npm dependencies
# installed (once) under the build folder.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
build="$(cd "$1" && pwd)"
deps="$build/interop"
mkdir -p "$deps"
if ! cmp -s "$here/package-lock.json" "$deps/package-lock.json" || [ ! -d "$deps/node_modules" ]; then
  cp "$here/package.json" "$here/package-lock.json" "$deps/"
  (cd "$deps" && npm ci --no-audit --no-fund --loglevel=error)
fi
work="$(mktemp -d)"
# Only the demo server: a bare `kill 0` would signal the whole process group, the test runner included.
trap '[ -z "${DEMO_PID:-}" ] || kill "$DEMO_PID" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
. "$here/../../scripts/demo-server.sh"
start_demo_server "$build/bin" "$work" || { cat "$work/server.log"; exit 1; }
NODE_PATH="$deps/node_modules" node "$here/rpc_test.js" "$DEMO_ADDR"
