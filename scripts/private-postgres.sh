# Sourced (bash) by ./vor test.
#
# start_private_postgres
#   Creates a throw-away PostgreSQL cluster (Debian's postgresql package) in a
#   temporary folder, listening on 127.0.0.1 only, on a free port, with a
#   random password for its one user "vor"; as the user "postgres" when run as
#   root. Exports VOR_TEST_POSTGRESQL (postgresql://vor@127.0.0.1:PORT/postgres)
#   and PGPASSWORD for the tests. Returns 1 (with the reason on stderr) when it
#   cannot.
# stop_private_postgres
#   Stops it and removes its folder. Safe to call when nothing was started.
PG_BIN="" PG_DIR="" PG_RUN=()

start_private_postgres() {
  PG_BIN="$(ls -d /usr/lib/postgresql/*/bin 2>/dev/null | sort -V | tail -n 1)"
  if [ -z "$PG_BIN" ] || [ ! -x "$PG_BIN/initdb" ]; then
    echo "private-postgres: no PostgreSQL server binaries under /usr/lib/postgresql" >&2
    return 1
  fi
  PG_RUN=()
  if [ "$(id -u)" -eq 0 ]; then
    PG_DIR="$(mktemp -d /tmp/vor-pg.XXXXXX)" # a place the user postgres can reach
    # The server refuses to run as root.
    if ! id postgres >/dev/null 2>&1; then
      useradd --system --home-dir /nonexistent --no-create-home --shell /usr/sbin/nologin postgres || return 1
    fi
    chown postgres "$PG_DIR"
    PG_RUN=(runuser -u postgres --)
  else
    PG_DIR="$(mktemp -d "${TMPDIR:-/tmp}/vor-pg.XXXXXX")"
  fi
  chmod 700 "$PG_DIR"
  local password
  password="$(head -c 24 /dev/urandom | od -An -tx1 | tr -d ' \n')"
  (umask 077; printf '%s\n' "$password" >"$PG_DIR/pw")
  [ "$(id -u)" -eq 0 ] && chown postgres "$PG_DIR/pw"
  if ! "${PG_RUN[@]}" "$PG_BIN/initdb" -D "$PG_DIR/data" -U vor --pwfile="$PG_DIR/pw" \
        --auth=scram-sha-256 -E UTF8 --locale=C >"$PG_DIR/initdb.log" 2>&1; then
    echo "private-postgres: initdb failed:" >&2; cat "$PG_DIR/initdb.log" >&2
    return 1
  fi
  rm -f "$PG_DIR/pw"
  local port try
  for try in 1 2 3 4 5 6 7 8; do
    port=$(( 20000 + (RANDOM * 32768 + RANDOM) % 40000 ))
    # Taken when something answers there.
    if (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; then continue; fi
    if "${PG_RUN[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -l "$PG_DIR/server.log" -w -t 60 \
         -o "-c listen_addresses=127.0.0.1 -p $port -k $PG_DIR -c fsync=off -c synchronous_commit=off -c max_connections=400" \
         start >/dev/null 2>&1; then
      export VOR_TEST_POSTGRESQL="postgresql://vor@127.0.0.1:$port/postgres"
      export PGPASSWORD="$password"
      return 0
    fi
  done
  echo "private-postgres: the server did not start:" >&2; tail -n 20 "$PG_DIR/server.log" >&2 2>/dev/null
  return 1
}

stop_private_postgres() {
  [ -n "$PG_DIR" ] || return 0
  if [ -f "$PG_DIR/data/postmaster.pid" ]; then
    "${PG_RUN[@]}" "$PG_BIN/pg_ctl" -D "$PG_DIR/data" -m fast -w stop >/dev/null 2>&1 || true
  fi
  rm -rf "$PG_DIR"
  PG_DIR=""
  unset VOR_TEST_POSTGRESQL PGPASSWORD
}
