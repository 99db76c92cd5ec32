# Sourced (bash) by ./vor cluster and the fleet checks.
#
# start_cluster BIN_DIR DIR [COUNT]
#   Starts COUNT (3) servers on the PostgreSQL database named in
#   VOR_TEST_POSTGRESQL (scripts/private-postgres.sh), each on a free loopback
#   port and trusting nginx's X-Forwarded-For, and Debian's nginx in front of
#   them on another free loopback port, balancing with passive health checks.
#   The first server loads the demo data into an empty database. Logs go to
#   DIR. Sets CLUSTER_ADDR (HOST:PORT of nginx), CLUSTER_PORTS and CLUSTER_PIDS
#   (arrays, one per server) and NGINX_PID; returns 1 with the reason on stderr.
# restart_cluster_server I
#   Starts server I (0-based) again on its port, after it was stopped.
# stop_cluster
#   Stops nginx and the servers. Safe to call when nothing was started.

CLUSTER_ADDR="" CLUSTER_PORTS=() CLUSTER_PIDS=() NGINX_PID="" CLUSTER_DIR="" CLUSTER_BIN=""

# Below Linux's ephemeral range (32768 and up), where outgoing connections,
# the servers' own to PostgreSQL among them, could already hold the port.
free_port() {
  local port
  while :; do
    port=$(( 20000 + RANDOM % 12000 ))
    (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null || { echo "$port"; return; }
  done
}

cluster_server_args() {
  printf '%s\n' --database "$VOR_TEST_POSTGRESQL" --listen "127.0.0.1:$1" --trusted-proxy 127.0.0.1
}

start_cluster() {
  CLUSTER_BIN="$1" CLUSTER_DIR="$2"
  local count="${3:-3}" i port args
  [ -n "${VOR_TEST_POSTGRESQL:-}" ] || { echo "cluster: no PostgreSQL (VOR_TEST_POSTGRESQL)" >&2; return 1; }
  local nginx
  nginx="$(command -v nginx || echo /usr/sbin/nginx)"
  [ -x "$nginx" ] || { echo "cluster: nginx is not installed (Debian package nginx-light)" >&2; return 1; }
  mkdir -p "$CLUSTER_DIR/nginx/logs" "$CLUSTER_DIR/nginx/tmp"
  # shellcheck source=scripts/demo-server.sh
  . "$(dirname "${BASH_SOURCE[0]}")/demo-server.sh"
  for ((i = 0; i < count; i++)); do
    port="$(free_port)"
    mapfile -t args < <(cluster_server_args "$port")
    # One at a time: the first fills an empty database with the demo data.
    [ "$i" -eq 0 ] && args+=(--demo)
    if ! launch_server "$CLUSTER_BIN" "$CLUSTER_DIR" "$CLUSTER_DIR/server-$i.log" "${args[@]}"; then
      # Once more on another port: a free port may have been taken meanwhile.
      kill "$SERVER_PID" 2>/dev/null
      port="$(free_port)"
      mapfile -t args < <(cluster_server_args "$port")
      [ "$i" -eq 0 ] && args+=(--demo)
      launch_server "$CLUSTER_BIN" "$CLUSTER_DIR" "$CLUSTER_DIR/server-$i.log" "${args[@]}" ||
        { tail -n 5 "$CLUSTER_DIR/server-$i.log" >&2; echo "cluster: server $i did not start" >&2; stop_cluster; return 1; }
    fi
    CLUSTER_PORTS+=("$port")
    CLUSTER_PIDS+=("$SERVER_PID")
  done
  local front upstream="" user=""
  front="$(free_port)"
  for port in "${CLUSTER_PORTS[@]}"; do
    upstream+="    server 127.0.0.1:$port max_fails=1 fail_timeout=5s;"$'\n'
  done
  # As root, nginx would hand its workers to "nobody", who cannot reach DIR.
  [ "$(id -u)" -eq 0 ] && user="user root;"
  cat >"$CLUSTER_DIR/nginx/nginx.conf" <<EOF
daemon off;
$user
worker_processes 2;
pid $CLUSTER_DIR/nginx/nginx.pid;
error_log $CLUSTER_DIR/nginx/logs/error.log warn;
events { worker_connections 4096; }
http {
    access_log off;
    client_body_temp_path $CLUSTER_DIR/nginx/tmp/body;
    proxy_temp_path $CLUSTER_DIR/nginx/tmp/proxy;
    client_header_timeout 10s;
    client_body_timeout 10s;
    send_timeout 10s;
    keepalive_timeout 5s;
    client_max_body_size 16m;
    upstream vor01300 {
$upstream        keepalive 64;
    }
    server {
        listen 127.0.0.1:$front;
        location / {
            proxy_pass http://vor01300;
            proxy_http_version 1.1;
            proxy_set_header Connection "";
            proxy_set_header Host \$host;
            proxy_set_header X-Forwarded-For \$remote_addr;
            proxy_connect_timeout 2s;
            proxy_send_timeout 10s;
            proxy_read_timeout 120s;
            proxy_next_upstream error timeout http_502 http_503;
        }
    }
}
EOF
  "$nginx" -p "$CLUSTER_DIR/nginx" -c "$CLUSTER_DIR/nginx/nginx.conf" 2>>"$CLUSTER_DIR/nginx/logs/error.log" &
  NGINX_PID=$!
  for i in $(seq 1 50); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$front") 2>/dev/null; then
      CLUSTER_ADDR="127.0.0.1:$front"
      return 0
    fi
    kill -0 "$NGINX_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "cluster: nginx did not start:" >&2; tail -n 20 "$CLUSTER_DIR/nginx/logs/error.log" >&2
  stop_cluster
  return 1
}

restart_cluster_server() {
  local i="$1" args
  mapfile -t args < <(cluster_server_args "${CLUSTER_PORTS[$i]}")
  launch_server "$CLUSTER_BIN" "$CLUSTER_DIR" "$CLUSTER_DIR/server-$i.log" "${args[@]}" || return 1
  CLUSTER_PIDS[$i]=$SERVER_PID
}

stop_cluster() {
  local pid
  [ -n "$NGINX_PID" ] && kill -TERM "$NGINX_PID" 2>/dev/null
  for pid in "${CLUSTER_PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
  for pid in "$NGINX_PID" "${CLUSTER_PIDS[@]}"; do [ -n "$pid" ] && wait "$pid" 2>/dev/null; done
  CLUSTER_ADDR="" CLUSTER_PORTS=() CLUSTER_PIDS=() NGINX_PID=""
  return 0
}
