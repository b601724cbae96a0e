#!/usr/bin/env bash
# The demo's database server: a MariaDB on 127.0.0.1 in the sandbox with the
# in-house and web-host schemas and the demo's rows. Its address goes into
# site.ini; $SANDBOX/pids/mariadb.stop stops it when the demo ends.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"
source "$ROOT/scripts/demo/siteini.sh"

tool=$ROOT/tests/support/tools/mariadb_sandbox.sh
dir=$SANDBOX/mariadb

# Stopped with the demo even when it dies before its own clean-up; the prepared
# data folder of the build tree makes the start one server launch.
export RH_SANDBOX_OWNER_PID=$PPID
if [[ -n ${BUILD:-} ]]; then export RH_SANDBOX_TEMPLATE=${RH_SANDBOX_TEMPLATE:-$BUILD/mariadb-template}; fi

mkdir -p "$dir" "$SANDBOX/pids"
printf 'bash %q stop %q\n' "$tool" "$dir" > "$SANDBOX/pids/mariadb.stop"
port=$(bash "$tool" start "$dir")
bash "$tool" sql "$dir" < "$ROOT/scripts/demo/mariadb-demo.sql"

# The hosts themselves come from the server-address checker (setup-http.sh).
keys=$(cat <<KEYS
DBPort=$port
DBSocket=$dir/sock
WebDBPort=$port
WebDBSocket=$dir/sock
KEYS
)
put_site_keys Servers "$keys"
# The accounts of the sandbox's schema: the program has no built-in ones.
put_site_keys Database "$(printf 'User=tv_inhouse\nPassword=%s\nWebUser=WebHostUser\nWebPassword=%s' 'tv!n2020' 'webH0st!2020')"

users=$(bash "$tool" sql "$dir" -N -B -e "SELECT COUNT(*) FROM tv_inhouse.user")
echo "MariaDB up on 127.0.0.1:$port (tv_inhouse with $users user(s), webhost; socket $dir/sock)"
