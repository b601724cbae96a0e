#!/usr/bin/env bash
# The demo's login: this machine's network adapters on the allow-list
# (user_mac) for the demo account dev01, whose password waits in the sandbox
# in a file only its owner may read. The run flags point the program at it.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}"

tool=$ROOT/tests/support/tools/mariadb_sandbox.sh
macs=()
for dev in /sys/class/net/*; do
  [[ $(basename "$dev") == lo ]] && continue
  mac=$(tr -d ':-' < "$dev/address" 2>/dev/null | tr a-f A-F) || continue
  [[ $mac =~ ^[0-9A-F]{12}$ && $mac != 000000000000 ]] && macs+=("$mac")
done
if (( ${#macs[@]} == 0 )); then
  echo "setup-users: this machine has no network adapter with a MAC address" >&2
  exit 1
fi
for mac in "${macs[@]}"; do
  bash "$tool" sql "$SANDBOX/mariadb" -e \
    "INSERT INTO tv_inhouse.user_mac (user_id, mac_addr, block) VALUES ('dev01', '$mac', 0)"
done

( umask 077; printf 'demo\n' > "$SANDBOX/password" )
printf -- '--password-file\n%s\n' "$SANDBOX/password" >> "$SANDBOX/run_flags"
echo "allow-list: dev01 on ${macs[*]}; password in $SANDBOX/password"
