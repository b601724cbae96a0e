#!/usr/bin/env bash
# How long the program goes without answering its event loop during a
# release: the demo release runs with the download FTP server throttled and a
# compiler that takes its time, and the run's own probe (a timer that ticks
# every 10 ms during the run) reports the longest gap between two ticks in the
# run report. Prints the figure; exits non-zero unless it is under 100 ms.
#
#   DEMO_CHECK=$PWD/tests/bench/responsiveness_bench.sh scripts/demo.sh
#   BUILD_TYPE=Release BUILD_DIR=$PWD/build-rel DEMO_CHECK=... scripts/demo.sh
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}" "${APP:?}"
throttle=${FTP_THROTTLE:-100000}   # bytes per second
compile_s=${COMPILE_SECONDS:-2}    # the stand-in compiler's extra time
limit=${GAP_LIMIT_MS:-100}
# Setups of some size, so the uploads take their time over the throttled link.
export RH_SETUP_PAD_BYTES=${SETUP_BYTES:-600000}

# The FTP server again, throttled, on a port of its own.
[[ -f $SANDBOX/pids/ftp.stop ]] && bash "$SANDBOX/pids/ftp.stop"
pidfile=$SANDBOX/pids/ftp-throttled.pid
out=$(RH_FTP_PASSWORD='Demo#Ftp2026' /usr/bin/python3 "$ROOT/tests/support/tools/ftpserver.py" \
  --root "$SANDBOX/ftp" --port 0 --user tvc1 --layout --throttle "$throttle" \
  --background --pidfile "$pidfile")
port=$(sed -n 's/^PORT \([0-9][0-9]*\)$/\1/p' <<<"$out")
[[ -n $port ]] || { echo "the throttled FTP server did not start: $out" >&2; exit 1; }
printf 'kill %q 2>/dev/null || true\n' "$(<"$pidfile")" > "$SANDBOX/pids/ftp-throttled.stop"
# Only the [Ftp] section's port changes.
awk -v port="$port" '
  /^\[/ { section = tolower($0) }
  section == "[ftp]" && /^Port=/ { print "Port=" port; next }
  { print }' "$SANDBOX/site.ini" > "$SANDBOX/site.ini.new"
chmod 600 "$SANDBOX/site.ini.new"
mv "$SANDBOX/site.ini.new" "$SANDBOX/site.ini"

# A compiler that takes its time before it builds.
vb98="$SANDBOX/drives/C/Program Files/Microsoft Visual Studio/VB98"
if [[ ! -f $vb98/vb6_standin.py ]]; then
  mv "$vb98/vb6.exe" "$vb98/vb6_standin.py"
  printf '#!/bin/sh\nsleep %s\nexec /usr/bin/python3 "$(dirname "$0")/vb6_standin.py" "$@"\n' "$compile_s" > "$vb98/vb6.exe"
  chmod 0755 "$vb98/vb6.exe"
fi

mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)
t0=$(date +%s%N)
rc=0
"$APP" --headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}" > "$SANDBOX/logs/bench-run.txt" || rc=$?
t1=$(date +%s%N)
if (( rc != 0 && rc != 5 )); then
  tail -20 "$SANDBOX/logs/bench-run.txt" >&2
  echo "the release run ended with exit code $rc" >&2
  exit 1
fi
report=$(ls -1 "$SANDBOX"/logs/run_*.json | LC_ALL=C sort | tail -1)
gap=$(/usr/bin/python3 -c 'import json,sys; print(int(json.load(open(sys.argv[1]))["longestGapMs"]))' "$report")
where=$(sed -n 's/^  화면 응답 최대 간격: .*ms (\(.*\))$/\1/p' "$SANDBOX/logs/bench-run.txt")
uploaded=$(du -cb "$SANDBOX"/ftp/public_html/download/*.exe 2>/dev/null | tail -1 | cut -f1)
printf 'release %d ms (FTP throttled to %d B/s, %s bytes of setups uploaded, compiler +%s s per project)\n' \
  $(((t1 - t0) / 1000000)) "$throttle" "${uploaded:-0}" "$compile_s"
printf 'longest gap between event-loop turns: %d ms (limit %d ms), after: %s\n' "$gap" "$limit" "${where:-?}"
(( gap < limit ))
