# Sourced (bash) by ./vor run, the end-to-end tests and the screenshot script.
#
# start_demo_server BIN_DIR DIR [LOG]
#   Starts BIN_DIR/vor01300-server on DIR/demo.sqlite (demo data on first use)
#   on a free loopback port, stderr appended to LOG (default DIR/server.log),
#   then copies the demo's branches into DIR/local.sqlite, the host's local
#   database. Sets DEMO_PID and DEMO_ADDR (HOST:PORT); returns 1 when the
#   server did not report itself ready within 30 seconds.
start_demo_server() {
  local bin="$1" dir="$2" log="${3:-$2/server.log}"
  local started=0
  launch_server "$bin" "$dir" "$log" --database "sqlite:$dir/demo.sqlite" --demo --listen 127.0.0.1:0 || started=1
  # Set even when it never became ready, so that the caller's cleanup stops it.
  DEMO_PID=$SERVER_PID DEMO_ADDR=$SERVER_ADDR
  [ $started -eq 0 ] || return 1
  sqlite3 "$dir/local.sqlite" "CREATE TABLE IF NOT EXISTS FILIAL(CDFILIAL VARCHAR(4) PRIMARY KEY, NMFILIAL VARCHAR(30));
    ATTACH '$dir/demo.sqlite' AS srv; INSERT OR REPLACE INTO FILIAL(CDFILIAL, NMFILIAL) SELECT CDFILIAL, NMFILIAL FROM srv.FILIAL;"
}

# launch_server BIN_DIR DIR LOG ARGS...
#   Starts BIN_DIR/vor01300-server with ARGS, stderr appended to LOG, and
#   waits up to 30 s for its ready line. Sets SERVER_PID and SERVER_ADDR.
launch_server() {
  local bin="$1" dir="$2" log="$3" line fifo fd
  shift 3
  fifo="$(mktemp -u "$dir/.server-out.XXXXXX")"
  mkfifo "$fifo"
  "$bin/vor01300-server" "$@" >"$fifo" 2>>"$log" &
  SERVER_PID=$!
  exec {fd}<"$fifo"
  rm -f "$fifo"
  SERVER_ADDR=""
  while IFS= read -r -t 30 line <&"$fd"; do
    case "$line" in "listening on "*) SERVER_ADDR="${line#listening on }"; break;; esac
  done
  [ -n "$SERVER_ADDR" ]
}
