#!/usr/bin/env bash
# The Debian packages, as an operations team gets them: cpack builds the four
# packages from this build, each is unpacked into a scratch root (dpkg -x), and
# the installed server and host run from there, on their own libraries.
set -euo pipefail
build="$(cd "$1" && pwd)"
work="$(mktemp -d)"
# Only the demo server: a bare `kill 0` would signal the whole process group, the test runner included.
trap '[ -z "${DEMO_PID:-}" ] || kill "$DEMO_PID" 2>/dev/null || true; wait 2>/dev/null || true; rm -rf "$work"' EXIT
fail() { echo "install test: $*" >&2; exit 1; }

cpack -G DEB --config "$build/CPackConfig.cmake" -D CPACK_OUTPUT_FILE_PREFIX="$work/packages" >"$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack failed"; }
root="$work/root"
mkdir -p "$root"
for name in libvor-framework vorhost vor01300-screen vor01300-server; do
  deb="$(ls "$work/packages/${name}_"*.deb 2>/dev/null | head -n 1)"
  [ -n "$deb" ] || fail "no package $name"
  [ "$(dpkg-deb -f "$deb" Package)" = "$name" ] || fail "$deb is not $name"
  dpkg-deb -x "$deb" "$root"
done

# The server package brings its unit, a protected configuration and the
# scripts that make its user and data folder.
server_deb="$(ls "$work/packages/vor01300-server_"*.deb)"
dpkg-deb -e "$server_deb" "$work/control"
grep -qx /etc/vor01300/server.conf "$work/control/conffiles" || fail "server.conf is not a conffile"
grep -q 'adduser --system' "$work/control/postinst" || fail "postinst makes no system user"
[ -f "$root/etc/vor01300/server.conf" ] || fail "no /etc/vor01300/server.conf"
unit="$(find "$root" -name vor01300-server.service | head -n 1)"
[ -n "$unit" ] || fail "no systemd unit"
grep -q '^User=vor01300' "$unit" || fail "the unit does not run as vor01300"
grep -q 'EnvironmentFile=/etc/vor01300/server.conf' "$unit" || fail "the unit ignores the configuration"
bin="$(dirname "$(find "$root" -type f -name vor01300-server | head -n 1)")"
[ -x "$bin/vorhost" ] || fail "vorhost is not beside the server"
find "$root" -name libVOR01300.so | grep -q vor01300/libVOR01300.so || fail "the screen package is not in its folder"

# Nothing of the build tree may be needed: the installed programs resolve the
# framework from the scratch root.
# (ldd's output is read whole first: grep -q stopping early would end ldd with
# SIGPIPE, which pipefail turns into a failure now and then)
for program in "$bin/vorhost" "$bin/vor01300-server"; do
  libs="$(ldd "$program")"
  if grep -q "$build" <<<"$libs"; then echo "$libs"; fail "$program uses the build tree"; fi
done
libs="$(ldd "$bin/vorhost")"
grep -q "$root.*libVorCore.so" <<<"$libs" || { echo "$libs"; fail "vorhost does not find its framework"; }

. "$(dirname "$0")/../scripts/demo-server.sh"
start_demo_server "$bin" "$work" || { cat "$work/server.log"; fail "the installed server did not start"; }
VOR_ECHO_MESSAGES=1 "$bin/vorhost" --server "$DEMO_ADDR" --operator ANA --password ana123 \
  --local-db "$work/local.sqlite" --locale pt_BR --open VOR01300 --screenshot "$work/shot.png" \
  >"$work/host.out" 2>"$work/host.err" || { cat "$work/host.err"; fail "the installed host failed"; }
test -s "$work/shot.png" || fail "no screenshot"
if grep -q '^message: ' "$work/host.err"; then cat "$work/host.err"; fail "the installed host showed a message"; fi
grep -q '"method":"POST /session"' "$work/server.log" || fail "the host never logged in"
echo "install test: four packages unpacked; server and host ran from $root"
