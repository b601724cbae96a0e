#!/usr/bin/env bash
# The demo's web server: tests/support/tools/httpserver.py on 127.0.0.1 (a
# free port). It answers the server-address checker with the hosts of the
# sandbox and serves the update folder (/download/자동업데이트_v1/) from
# $SANDBOX/http/root. Its port goes into site.ini under [Servers];
# $SANDBOX/pids/http.stop stops it when the demo ends. The update folder is
# signed with a demo release key made here with minisign (no password,
# $SANDBOX/http/keys); its public half goes into site.ini under [Update].
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"
source "$ROOT/scripts/demo/siteini.sh"

tool=$ROOT/tests/support/tools/httpserver.py
dir=$SANDBOX/http
mkdir -p "$dir/root" "$SANDBOX/pids"

# The checker's reply: the sandbox's database and web server are on loopback.
reply='{"success": true, "data": {"ver": 1, "servers": [
  {"name": "사내메신저DB서버", "host": "127.0.0.1"},
  {"name": "자동업데이트_런처", "host": "127.0.0.1"}]}}'
printf '{"/serverinfo/server-address-checker.php": {"status": 200, "body_b64": "%s"}}\n' \
  "$(printf '%s' "$reply" | base64 -w0)" > "$dir/routes.json"

/usr/bin/python3 "$tool" --routes "$dir/routes.json" --root "$dir/root" --port 0 \
  > "$dir/server.log" 2>&1 &
pid=$!
printf 'kill %q 2>/dev/null || true\n' "$pid" > "$SANDBOX/pids/http.stop"
port=
for _ in $(seq 100); do
  port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' "$dir/server.log")
  [[ -n $port ]] && break
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
if [[ -z $port ]]; then
  echo "setup-http: the HTTP server did not start: $(cat "$dir/server.log")" >&2
  exit 1
fi

# The hosts themselves come from the checker at every start.
keys=$(cat <<KEYS
CheckerHost=127.0.0.1
CheckerPort=$port
WebHttpPort=$port
KEYS
)
put_site_keys Servers "$keys"

# The demo's release key: every file of the update folder carries its signature.
mkdir -p "$dir/keys"
minisign -G -W -p "$dir/keys/release.pub" -s "$dir/keys/release.key" >/dev/null
put_site_keys Update "PublicKey=$(sed -n 2p "$dir/keys/release.pub")"

# The update folder: the program's current revision, and a checker (with the
# file changer) one revision newer than the installed ones, signed.
updates="$dir/root/download/자동업데이트_v1"
mkdir -p "$updates"
printf '0\r\n' > "$updates/rollhaven2_lastver.txt" # the revision of this version of the program
checker_next=$("$BUILD/next/AutoVersionCheckerV1.exe" --revision)
printf '%s\r\n' "$checker_next" > "$updates/AutoVersionCheckerV1_lastver.txt"
for f in AutoVersionCheckerV1.exe filechanger.exe; do
  cp "$BUILD/next/$f" "$updates/$f"
  minisign -S -s "$dir/keys/release.key" -m "$updates/$f" >/dev/null
done

echo "HTTP server up on 127.0.0.1:$port (server-address checker; update folder publishes" \
  "AutoVersionCheckerV1.exe revision $checker_next, installed: $("${COMPANIONS:-$SANDBOX/bin}/AutoVersionCheckerV1.exe" --revision))"
