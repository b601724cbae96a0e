#!/usr/bin/env bash
# A throwaway MariaDB server on 127.0.0.1 for tests and the demo.
#
#   mariadb_sandbox.sh start DIR   initialise DIR/data, start the server on a free
#                                  port, load schema.sql; prints the port
#   mariadb_sandbox.sh stop DIR    stop the server started in DIR
#   mariadb_sandbox.sh restart DIR start the stopped server of DIR again on its
#                                  data and port (a database that was down)
#   mariadb_sandbox.sh sql DIR [ARGS...]
#                                  run SQL from standard input as root (ARGS go
#                                  to the mariadb client, e.g. -N -B)
#
# DIR also holds sock, port, mariadbd.pid, error.log and general.log (every
# statement the server received). With RH_SANDBOX_OWNER_PID set, the server is
# stopped when that process ends, so a crashed test leaves nothing behind.
# RH_SANDBOX_SERVER_ARGS adds mariadbd options (blank-separated) to the
# server that answers on the port. RH_SANDBOX_SCHEMA overrides the schema file; RH_SANDBOX_TEMPLATE names a
# folder that caches an initialised data folder between starts.
set -euo pipefail

here=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
schema=${RH_SANDBOX_SCHEMA:-$here/../schema.sql}

die() { echo "mariadb_sandbox: $*" >&2; exit 1; }

find_bin() { # name fallback...
  local name=$1; shift
  local p
  p=$(command -v "$name" 2>/dev/null || true)
  if [[ -n $p ]]; then echo "$p"; return; fi
  for p in "$@"; do
    if [[ -x $p ]]; then echo "$p"; return; fi
  done
  die "$name not found (install mariadb-server and mariadb-client)"
}

server_pid() { # dir -> pid of a live server, or nothing
  local f=$1/mariadbd.pid pid
  [[ -f $f ]] || return 0
  pid=$(cat "$f" 2>/dev/null || true)
  if [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; then echo "$pid"; fi
}

port_in_use() { # port -> true when something listens on 127.0.0.1:port
  (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null
}

pick_port() {
  local p
  for _ in $(seq 1 50); do
    p=$(( 20000 + RANDOM % 40000 ))
    if ! port_in_use "$p"; then echo "$p"; return; fi
  done
  die "no free port found"
}

stop_server() { # dir
  local dir=$1 pid
  pid=$(server_pid "$dir")
  [[ -n $pid ]] || return 0
  kill -TERM "$pid" 2>/dev/null || true
  for _ in $(seq 1 100); do
    kill -0 "$pid" 2>/dev/null || return 0
    sleep 0.1
  done
  kill -KILL "$pid" 2>/dev/null || true
}

client() { # dir args... : root client over the socket
  local dir=$1; shift
  "$(find_bin mariadb /usr/bin/mariadb)" --no-defaults --protocol=socket -S "$dir/sock" -uroot "$@"
}

init_data() { # dir: a fresh data folder in dir/data
  local dir=$1
  rm -rf "$dir/data"
  if ! "$install_db" --no-defaults --auth-root-authentication-method=normal \
      --datadir="$dir/data" --skip-test-db --innodb-log-file-size=8M "${user_arg[@]}" \
      >"$dir/install.log" 2>&1; then
    cat "$dir/install.log" >&2
    die "mariadb-install-db failed"
  fi
}

launch() { # dir network-args...: starts mariadbd on dir/data, waits until it answers
  local dir=$1; shift
  local pid
  : >"$dir/error.log"
  setsid "$mariadbd" --no-defaults "${user_arg[@]}" \
    --datadir="$dir/data" --socket="$dir/sock" --pid-file="$dir/mariadbd.pid" \
    --log-error="$dir/error.log" \
    --general-log=1 --general-log-file="$dir/general.log" \
    --skip-name-resolve --skip-log-bin \
    --character-set-server=utf8mb4 --collation-server=utf8mb4_unicode_ci \
    --innodb-log-file-size=8M --innodb-buffer-pool-size=32M \
    --innodb-lock-wait-timeout=20 --max-connections=100 "$@" \
    </dev/null >>"$dir/error.log" 2>&1 &
  pid=$!
  for _ in $(seq 1 600); do
    if "$admin" --no-defaults --protocol=socket -S "$dir/sock" -uroot ping >/dev/null 2>&1; then
      launched_pid=$pid
      return 0
    fi
    kill -0 "$pid" 2>/dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2>/dev/null || true
  return 1
}

load_schema() { # dir
  local dir=$1
  if ! client "$dir" <"$schema" >"$dir/schema.log" 2>&1; then
    cat "$dir/schema.log" >&2
    stop_server "$dir"
    die "loading $schema failed"
  fi
}

show_error_log() { # dir
  echo "---- $1/error.log ----" >&2
  cat "$1/error.log" >&2
}

# With RH_SANDBOX_TEMPLATE set, the initialised data folder (schema loaded) is
# kept there, keyed by the schema and the server version, and copied for every
# start: a start then costs one server launch.
template_data() {
  local tdir=$RH_SANDBOX_TEMPLATE key tdata work
  mkdir -p "$tdir"
  key=$( { cat "$schema"; "$mariadbd" --version; } | sha1sum | cut -c1-16)
  tdata=$tdir/data-$key
  exec 9>"$tdir/lock"
  flock 9
  if [[ ! -d $tdata ]]; then
    work=$(mktemp -d /tmp/rh-mariadb-template-XXXXXX)
    # shellcheck disable=SC2064
    trap "stop_server '$work'; rm -rf '$work'" EXIT
    init_data "$work"
    if ! launch "$work" --skip-networking; then
      show_error_log "$work"
      die "mariadbd did not start for the template"
    fi
    load_schema "$work"
    stop_server "$work"
    rm -rf "$tdir"/data-*
    cp -a "$work/data" "$tdata.tmp"
    mv "$tdata.tmp" "$tdata"
  fi
  exec 9>&-
  echo "$tdata"
}

watch_owner() { # stops the launched server when RH_SANDBOX_OWNER_PID ends
  if [[ -n ${RH_SANDBOX_OWNER_PID:-} ]]; then
    # shellcheck disable=SC2016  # expanded by the watcher's own shell
    setsid bash -c '
      while kill -0 "$1" 2>/dev/null && kill -0 "$2" 2>/dev/null; do sleep 1; done
      kill -TERM "$2" 2>/dev/null || true' watcher "$RH_SANDBOX_OWNER_PID" "$launched_pid" \
      </dev/null >/dev/null 2>&1 &
  fi
}

cmd_start() {
  local dir=$1
  mkdir -p "$dir"
  dir=$(cd "$dir" && pwd)
  [[ -z $(server_pid "$dir") ]] || die "a server already runs in $dir"
  [[ -f $schema ]] || die "schema file $schema not found"
  (( ${#dir} < 90 )) || die "folder path too long for a socket: $dir"

  rm -rf "$dir/data" "$dir/sock" "$dir/port" "$dir/mariadbd.pid" "$dir/general.log"
  local fresh=1
  if [[ -n ${RH_SANDBOX_TEMPLATE:-} ]]; then
    local tdata
    tdata=$(template_data)
    cp -a "$tdata" "$dir/data"
    fresh=0
  else
    init_data "$dir"
  fi

  local port attempt extra=()
  # shellcheck disable=SC2206  # options are blank-separated on purpose
  if [[ -n ${RH_SANDBOX_SERVER_ARGS:-} ]]; then extra=($RH_SANDBOX_SERVER_ARGS); fi
  for attempt in 1 2 3 4 5; do
    port=$(pick_port)
    if launch "$dir" --port="$port" --bind-address=127.0.0.1 "${extra[@]}"; then break; fi
    if grep -q "already in use" "$dir/error.log" && (( attempt < 5 )); then continue; fi
    show_error_log "$dir"
    die "mariadbd did not start"
  done
  if (( fresh )); then load_schema "$dir"; fi

  watch_owner

  echo "$port" >"$dir/port"
  echo "$port"
}

cmd_restart() {
  local dir port
  dir=$(cd "$1" && pwd)
  [[ -z $(server_pid "$dir") ]] || die "a server already runs in $dir"
  [[ -d $dir/data && -s $dir/port ]] || die "no server was started in $dir"
  port=$(<"$dir/port")
  local extra=()
  # shellcheck disable=SC2206  # options are blank-separated on purpose
  if [[ -n ${RH_SANDBOX_SERVER_ARGS:-} ]]; then extra=($RH_SANDBOX_SERVER_ARGS); fi
  if ! launch "$dir" --port="$port" --bind-address=127.0.0.1 "${extra[@]}"; then
    show_error_log "$dir"
    die "mariadbd did not start again"
  fi
  watch_owner
  echo "$port"
}

[[ $# -ge 2 ]] || die "usage: $0 start|stop|restart|sql DIR"
user_arg=()
if [[ $(id -u) -eq 0 ]]; then user_arg=(--user=root); fi
launched_pid=
if [[ $1 == start || $1 == restart ]]; then
  mariadbd=$(find_bin mariadbd /usr/sbin/mariadbd)
  install_db=$(find_bin mariadb-install-db /usr/bin/mariadb-install-db)
  admin=$(find_bin mariadb-admin /usr/bin/mariadb-admin)
fi
case $1 in
  start) cmd_start "$2" ;;
  stop) stop_server "$(cd "$2" && pwd)" ;;
  restart) cmd_restart "$2" ;;
  sql) dir=$(cd "$2" && pwd); shift 2; client "$dir" "$@" ;;
  *) die "unknown command $1 (start|stop|restart|sql)" ;;
esac
