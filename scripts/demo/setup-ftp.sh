#!/usr/bin/env bash
# The demo's download FTP server: tests/support/tools/ftpserver.py on
# 127.0.0.1 (a free port) serving $SANDBOX/ftp with /public_html/download/
# and its versions/ folder, for the site's account. Its address goes into
# site.ini under [Ftp]; $SANDBOX/pids/ftp.stop stops it when the demo ends.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"
source "$ROOT/scripts/demo/siteini.sh"

tool=$ROOT/tests/support/tools/ftpserver.py
root=$SANDBOX/ftp
pidfile=$SANDBOX/pids/ftp.pid
user=tvc1
# The password reaches the server through its environment, not its command line.
export RH_FTP_PASSWORD='Demo#Ftp2026'

mkdir -p "$root" "$SANDBOX/pids"
out=$(/usr/bin/python3 "$tool" --root "$root" --port 0 --user "$user" --layout \
  --background --pidfile "$pidfile")
port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' <<<"$out")
if [[ -z $port || ! -s $pidfile ]]; then
  echo "setup-ftp: the FTP server did not start: $out" >&2
  exit 1
fi
pid=$(<"$pidfile")
printf 'kill %q 2>/dev/null || true\nrm -f %q\n' "$pid" "$pidfile" > "$SANDBOX/pids/ftp.stop"

keys=$(cat <<KEYS
Host=127.0.0.1
Port=$port
User=$user
Password=$RH_FTP_PASSWORD
KEYS
)
put_site_keys Ftp "$keys"

echo "FTP server up on 127.0.0.1:$port (user $user, root $root, pid $pid)"
