#!/usr/bin/env bash
# ./vor run must hand the demo password to the host through a pipe of its
# own, never on its command line (which every user of the machine can list)
# nor in its environment (readable in /proc for the host's whole life).
# Runs the script's start-up path against stand-in programs that record how
# they were started.
set -euo pipefail
root="$1"
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
mkdir -p "$work/build/bin" "$work/build/lib" "$work/data"
touch "$work/build/lib/libVOR01300.so"

cat >"$work/build/bin/vor01300-server" <<'STUB'
#!/usr/bin/env bash
printf '%s\n' "$@" >"$OUT/server-args"
for a in "$@"; do case "$a" in sqlite:*) sqlite3 "${a#sqlite:}" "CREATE TABLE IF NOT EXISTS FILIAL(CDFILIAL, NMFILIAL)";; esac; done
echo "listening on 127.0.0.1:1"
exec sleep 60
STUB
cat >"$work/build/bin/vorhost" <<'STUB'
#!/usr/bin/env bash
tr '\0' '\n' </proc/$$/cmdline >"$OUT/host-args"
tr '\0' '\n' </proc/$$/environ >"$OUT/host-environ"
file=""; prev=""
for a in "$@"; do [ "$prev" = --password-file ] && file="$a"; prev="$a"; done
[ -n "$file" ] && head -n 1 "$file" | tr -d '\n' >"$OUT/host-password"
[ -n "$file" ] && stat -L -c %a "$file" >"$OUT/host-password-mode"
STUB
chmod +x "$work/build/bin/vor01300-server" "$work/build/bin/vorhost"

check() { # PASSWORD-GIVEN EXPECTED
  rm -f "$work"/host-* "$work"/server-args
  env ${1:+VOR_PASSWORD="$1"} OUT="$work" VOR_BUILD_DIR="$work/build" VOR_NO_BUILD=1 DISPLAY=:0 \
      XDG_DATA_HOME="$work/data" XDG_RUNTIME_DIR="$work" "$root/vor" run >"$work/out" 2>&1 || { cat "$work/out"; exit 1; }
  [ -s "$work/host-args" ] || { echo "the host was not started"; cat "$work/out"; exit 1; }
  if grep -qxF -- "--password" "$work/host-args" || grep -qF -- "$2" "$work/host-args" "$work/server-args"; then
    echo "the password is on a command line:"; cat "$work/host-args"; exit 1
  fi
  [ "$(cat "$work/host-password" 2>/dev/null)" = "$2" ] || { echo "the host did not get the password"; exit 1; }
  if grep -qF -- "$2" "$work/host-environ"; then
    echo "the password is in the host's environment"; exit 1
  fi
  [ "$(cat "$work/host-password-mode")" = 600 ] || { echo "others may read the password's pipe"; exit 1; }
  grep -qxF -- "--operator" "$work/host-args" || { echo "the host was not asked to log in"; exit 1; }
}
check "" ana123               # the demo's default
check "s3cr3t-given" s3cr3t-given
echo "ok: the password reaches the host through a pipe of its own only"
