#!/usr/bin/env bash
# The main job: a release in a self-contained sandbox. Installs what is missing,
# builds, lays out a program folder with its own drives and a CP949 setup INI,
# and runs the release headless, printing the run log.
# ROLLHAVEN2_PROGRAM=/usr/bin/rollhaven2 runs an installed program instead of the build;
# ROLLHAVEN2_PACKAGE=<.deb> unpacks a package into the sandbox and runs its program,
# with its companions in lib/rollhaven2, through the self-update too.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD_DIR:-$ROOT/build}
SANDBOX=${ROLLHAVEN2_SANDBOX:-$ROOT/sandbox}

# Tests that drive the demo sandbox bring their own build (DEMO_NO_BUILD=1).
if [[ -z ${DEMO_NO_BUILD:-} ]]; then
  scripts/deps.sh
  cmake -S "$ROOT" -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=${BUILD_TYPE:-Debug} >/dev/null
  cmake --build "$BUILD" -j "$(nproc)" --target rollhaven2 rollhaven2_next rh_versionchecker_next rh_filechanger_next
fi

rm -rf "$SANDBOX"
mkdir -p "$SANDBOX"/{bin,inis,logs,settings}
mkdir -p "$SANDBOX"/drives/{C,D,S/Codesigning/unsigned,S/Codesigning/signed,fileserver}
mkdir -p "$SANDBOX"/drives/C/Release/{배포,베타}
mkdir -p "$SANDBOX"/drives/fileserver/프로그램셋업/1_정식버전
cp scripts/demo/inis/*.ini "$SANDBOX/inis/"

cat > "$SANDBOX/site.ini" <<SITE
; Site configuration of the demo sandbox (UTF-8)
[Servers]
FileServerHost=fileserver
[Text]
CodePage=CP949
[Drives]
C:=drives/C
D:=drives/D
S:=drives/S
\\\\fileserver=drives/fileserver
SITE

# The program as a user has it: its own folder with the two update companions.
cp "$BUILD"/src/{rollhaven2,AutoVersionCheckerV1.exe,filechanger.exe} "$SANDBOX/bin/"

APP="${ROLLHAVEN2_PROGRAM:-$SANDBOX/bin/rollhaven2}"
if [[ -n ${ROLLHAVEN2_PACKAGE:-} ]]; then
  dpkg-deb -x "$ROLLHAVEN2_PACKAGE" "$SANDBOX/package"
  APP=$SANDBOX/package/usr/bin/rollhaven2
fi
APP_DIR=$(dirname "$APP")
# An installed layout keeps its update companions in lib/rollhaven2 beside bin/.
COMPANIONS=$APP_DIR
if [[ -d $APP_DIR/../lib/rollhaven2 ]]; then COMPANIONS=$(cd "$APP_DIR/../lib/rollhaven2" && pwd); fi

export ROLLHAVEN2_HOME="$SANDBOX"
export XDG_CONFIG_HOME="$SANDBOX/settings"
export ROOT BUILD SANDBOX COMPANIONS

# Each part of the sandbox (stand-in tools, database, FTP server, ...) is laid
# out by its own script; services they start are stopped when the demo ends.
# They may append to site.ini and add flags for the run to $SANDBOX/run_flags.
mkdir -p "$SANDBOX/pids"
: > "$SANDBOX/run_flags"
stop_services() {
  for f in "$SANDBOX"/pids/*.stop; do
    [[ -e $f ]] && bash "$f" >/dev/null 2>&1 || true
  done
}
trap stop_services EXIT
for part in scripts/demo/setup-*.sh; do
  [[ -e $part ]] || continue
  echo "== $(basename "$part" .sh) =="
  bash "$part"
done
mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)

echo "== start-up and the project grid of inis/demo.ini =="
# Single instance, server addresses from the checker, self-update of the
# companions (a newer checker is published), login of dev01, then the grid.
"$APP" --headless --ini demo.ini --list "${RUN_FLAGS[@]}"

# A check (tests) takes over here, with the sandbox started up and its services up.
if [[ -n ${DEMO_CHECK:-} ]]; then
  export APP
  bash "$DEMO_CHECK"
  exit
fi

echo
echo "== release run =="
# A Wednesday: the immediate-release preset, no version-up day.
# Exit code 5 is a run that finished with errors: its log says which; the
# listing below still shows what landed.
rc=0
"$APP" --headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}" || rc=$?
if (( rc != 0 && rc != 5 )); then exit "$rc"; fi

echo
echo "== what landed where =="
listing() { # <title> <native folder>
  echo "$1"
  if [[ -d $2 ]]; then ls -1 "$2" | sed 's/^/  /'; else echo "  (none)"; fi
}
listing 'C:\Release\배포' "$SANDBOX/drives/C/Release/배포"
listing '\\fileserver\프로그램셋업\1_정식버전' "$SANDBOX/drives/fileserver/프로그램셋업/1_정식버전"
listing 'C:\2TarvelInstalls' "$SANDBOX/drives/C/2TarvelInstalls"
listing 'FTP /public_html/download/' "$SANDBOX/ftp/public_html/download"
listing 'FTP /public_html/download/versions/' "$SANDBOX/ftp/public_html/download/versions"
for f in "$SANDBOX"/ftp/public_html/download/versions/*.ver; do
  if [[ -e $f ]]; then printf '  %s: %s\n' "$(basename "$f")" "$(iconv -f CP949 -t UTF-8 "$f")"; fi
done
sql() { bash tests/support/tools/mariadb_sandbox.sh sql "$SANDBOX/mariadb" -t -e "$1"; }
echo "work diary (tv_inhouse):"
sql "SELECT d.seq, d.writedate, d.writer, d.note, p.partcode FROM tv_inhouse.diary d
     JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq ORDER BY d.seq"
echo "download catalogue (webhost):"
sql "SELECT f.code, f.rname, c.DemoDownFile AS cate3, i.DemoDownFile AS cate3_info
     FROM webhost.file_rname f
     LEFT JOIN webhost.cate3 c ON c.idx = ELT(f.code, 48, 49, 52, 86)
     LEFT JOIN webhost.cate3_info i ON i.idx = ELT(f.code, 62, 63, 65, 88) ORDER BY f.code"

# Only a program of the sandbox's own is replaced (an installed one never updates itself).
if [[ $APP == "$SANDBOX"/* ]]; then
echo
echo "== a newer build of the program is published =="
updates="$SANDBOX/http/root/download/자동업데이트_v1"
cp "$BUILD/next/rollhaven2" "$updates/rollhaven2"
minisign -S -s "$SANDBOX/http/keys/release.key" -m "$updates/rollhaven2" >/dev/null
printf '1\r\n' > "$updates/rollhaven2_lastver.txt"
old_sum=$(sha256sum < "$APP")
set +e
"$APP" --headless --ini demo.ini --list "${RUN_FLAGS[@]}"
echo "(exit code $? : handed over to the file changer)"
set -e
# The file changer replaces the program once it has ended and starts it again
# with the same arguments; wait for that restarted program to finish.
pid=
for _ in $(seq 600); do
  pid=$(sed -n 's/.*restarted .* (pid \([0-9][0-9]*\))$/\1/p' "$APP_DIR/filechanger.log" 2>/dev/null | tail -1)
  [[ -n $pid ]] && break
  sleep 0.1
done
while [[ -n $pid ]] && kill -0 "$pid" 2>/dev/null; do sleep 0.1; done
echo "file changer log:"
sed 's/^/  /' "$APP_DIR/filechanger.log"
echo "program folder $APP_DIR:"
ls -l "$APP_DIR" | sed 1d | sed 's/^/  /'
if [[ $COMPANIONS != "$APP_DIR" ]]; then
  echo "companions $COMPANIONS:"
  ls -l "$COMPANIONS" | sed 1d | sed 's/^/  /'
fi
if [[ $(sha256sum < "$APP") != "$old_sum" ]]; then
  echo "rollhaven2 replaced by the published build; the previous one is rollhaven2.bak"
fi
fi

echo
echo "run logs and reports: $SANDBOX/logs"
echo
echo "== end-of-run verification of the release =="
release_log=$(ls -1 "$SANDBOX"/logs/run_*.log | LC_ALL=C sort | tail -1)
sed -n '/^검증 결과/,/^$/p' "$release_log"
