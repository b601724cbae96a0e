#!/usr/bin/env bash
# The main job: a release in a self-contained sandbox. Installs what is missing,
# builds, lays out a program folder with its own drives and a CP949 setup INI,
# and runs the release headless, printing the run log.
# ROLLHAVEN2_PROGRAM=/usr/bin/rollhaven2 runs an installed program instead of the build;
# ROLLHAVEN2_PACKAGE=<.deb> unpacks a package into the sandbox and runs its program,
# with its companions in lib/rollhaven2, through the self-update too.
set -Eeuo pipefail
# No command ends the demo without saying which one; fail() ends it with a reason.
trap 'echo "demo: stopped at line $LINENO: $BASH_COMMAND" >&2' ERR
fail() { echo "demo: FAILED: $*" >&2; exit 1; }
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
started=$SECONDS
rc=0
"$APP" --headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}" || rc=$?
release_seconds=$((SECONDS - started))
release_log=$(ls -1 "$SANDBOX"/logs/run_*.log 2>/dev/null | LC_ALL=C sort | tail -1 || true)
[[ -n $release_log ]] || fail "the release run left no run log in $SANDBOX/logs"
(( rc == 0 )) || fail "the release run ended with exit code $rc; its log: $release_log"

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
sql() { bash tests/support/tools/mariadb_sandbox.sh sql "$SANDBOX/mariadb" "$@"; }
echo "work diary (tv_inhouse):"
sql -t -e "SELECT d.seq, d.writedate, d.writer, d.note, p.partcode FROM tv_inhouse.diary d
     JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq ORDER BY d.seq"
echo "download catalogue (webhost):"
sql -t -e "SELECT f.code, f.rname, c.DemoDownFile AS cate3, i.DemoDownFile AS cate3_info
     FROM webhost.file_rname f
     LEFT JOIN webhost.cate3 c ON c.idx = ELT(f.code, 48, 49, 52, 86)
     LEFT JOIN webhost.cate3_info i ON i.idx = ELT(f.code, 62, 63, 65, 88) ORDER BY f.code"

echo
echo "== end-of-run verification of the release =="
verification=$(sed -n '/^검증 결과/,/^$/p' "$release_log")
printf '%s\n' "$verification"

# The demo checks what it has shown. The expectations come from inis/demo.ini
# and the stand-in tools, not from the program: group 1 is 원장관리 (setup
# TVledger2_setup_2.exe) and 세금계산서 (tax_setup_2.exe).
echo
echo "== checking the release =="
rows=$(grep -c ' | ' <<<"$(sed 1d <<<"$verification")" || true)
(( rows > 0 )) || fail "the release log has no verification rows ($release_log)"
bad=$(sed 1d <<<"$verification" | grep ' | ' | grep -v ' | 일치$' || true)
[[ -z $bad ]] || fail "verification rows that are not 일치: $(head -1 <<<"$bad")"
errors=$(grep -c '^\[오류\]' "$release_log" || true)
(( errors == 0 )) || fail "the release log has $errors [오류] lines, first: $(grep -m1 '^\[오류\]' "$release_log")"
ftp=$SANDBOX/ftp/public_html/download
for setup in TVledger2_setup.exe TVledger2_setup_patch.exe tax_setup.exe tax_setup_patch.exe; do
  for dest in "$SANDBOX/drives/C/Release/배포" "$SANDBOX/drives/fileserver/프로그램셋업/1_정식버전" "$ftp"; do
    [[ -s $dest/$setup ]] || fail "$setup is missing on $dest"
    [[ ! -e $dest/${setup%.exe}_2.exe ]] || fail "${setup%.exe}_2.exe was left on $dest (never renamed)"
  done
  cmp -s "$SANDBOX/drives/C/Release/배포/$setup" "$ftp/$setup" \
    || fail "$setup differs between C:\\Release\\배포 and the FTP server"
done
for official in 'TVledger2_setup_ver1_612_31(*).exe' 'tax_setup_ver2_612_7(*).exe'; do
  compgen -G "$SANDBOX/drives/fileserver/프로그램셋업/1_정식버전/$official" >/dev/null \
    || fail "the official copy $official is missing on \\\\fileserver\\프로그램셋업\\1_정식버전"
done
for ver in TVledger2_setup.ver tax_setup.ver; do
  [[ -s $ftp/versions/$ver ]] || fail "the version file $ver is missing on the FTP server"
done
grep -qx '1\.612\.31;[0-9]\{6\}_[0-9]\{4\}' <(iconv -f CP949 -t UTF-8 "$ftp/versions/TVledger2_setup.ver") \
  || fail "TVledger2_setup.ver does not hold 1.612.31;YYMMDD_HHMM"
diary=$(sql -N -e "SELECT COUNT(*) FROM tv_inhouse.diary d JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq
                   WHERE (p.partcode = 101 AND d.note LIKE '%원장관리 → 1.612.31')
                      OR (p.partcode = 102 AND d.note LIKE '%세금계산서 → 2.612.7')")
(( diary == 2 )) || fail "the work diary holds $diary of the rows for 원장관리 1.612.31 and 세금계산서 2.612.7, expected 2"
# 원장관리 is the catalogue's product 1; its entry names the versioned setup on the server.
listed=$(sql -N -e "SELECT rname FROM webhost.file_rname WHERE code = 1")
[[ $listed == tvledger2_setup_ver1.612.31\(??????\).exe ]] \
  || fail "the download catalogue names '$listed' for 원장관리, not its versioned setup"
[[ -s $ftp/$listed ]] || fail "the download catalogue names $listed, which is not on the FTP server"
echo "release checked: $rows verification rows 일치, no error line in the run log; setups and patches on all three destinations," \
  "official copies, version files; 2 diary rows; catalogue entry $listed"

# Only a program of the sandbox's own is replaced (an installed one never updates itself).
if [[ $APP == "$SANDBOX"/* ]]; then
  echo
  echo "== a newer build of the program is published =="
  updates="$SANDBOX/http/root/download/자동업데이트_v1"
  published=${DEMO_PUBLISHED_BUILD:-$BUILD/next/rollhaven2}
  cp "$published" "$updates/rollhaven2"
  minisign -S -s "$SANDBOX/http/keys/release.key" -m "$updates/rollhaven2" >/dev/null
  printf '1\r\n' > "$updates/rollhaven2_lastver.txt"
  old_sum=$(sha256sum < "$APP")
  new_sum=$(sha256sum < "$published")
  changer_log=$APP_DIR/filechanger.log
  : > "$changer_log"
  # The program hands over to the file changer and ends; the file changer
  # replaces it and starts it again. Both are detached, so the reaper (a
  # subreaper) adopts them and records how each ended.
  status=$SANDBOX/handover.status
  output=$SANDBOX/handover.out
  python3 scripts/demo/reap.py "$status" 300 "$APP" --headless --ini demo.ini --list "${RUN_FLAGS[@]}" \
    > "$output" 2>&1 &
  reaper=$!
  restarted=
  for _ in $(seq 600); do # 60 s for the file changer to name the restarted program
    restarted=$(sed -n 's/.*restarted .* (pid \([0-9][0-9]*\))$/\1/p' "$changer_log" | tail -1 || true)
    [[ -n $restarted ]] && break
    kill -0 "$reaper" 2>/dev/null || break
    sleep 0.1
  done
  handover_rc=0
  wait "$reaper" || handover_rc=$?
  sed 's/^/  /' "$output"
  echo "file changer log:"
  sed 's/^/  /' "$changer_log"
  [[ -n $restarted ]] || restarted=$(sed -n 's/.*restarted .* (pid \([0-9][0-9]*\))$/\1/p' "$changer_log" | tail -1 || true)
  [[ -n $restarted ]] || fail "the file changer named no restarted program within 60 s (the first program ended with $handover_rc)"
  (( handover_rc == 13 )) || fail "the program did not hand over to the file changer (exit code $handover_rc, expected 13)"
  restarted_rc=$(awk -v p="$restarted" '$1 == p { print $2 }' "$status")
  [[ -n $restarted_rc ]] || fail "the restarted program (pid $restarted) did not end within the reaper's 300 s"
  echo "restarted program (pid $restarted) ended with exit code $restarted_rc"
  echo "program folder $APP_DIR:"
  ls -l "$APP_DIR" | sed 1d | sed 's/^/  /'
  if [[ $COMPANIONS != "$APP_DIR" ]]; then
    echo "companions $COMPANIONS:"
    ls -l "$COMPANIONS" | sed 1d | sed 's/^/  /'
  fi
  (( restarted_rc == 0 )) || fail "the restarted program ended with exit code $restarted_rc"
  [[ $(sha256sum < "$APP") == "$new_sum" ]] || fail "rollhaven2 was not replaced by the published build"
  [[ -f $APP.bak && $(sha256sum < "$APP.bak") == "$old_sum" ]] || fail "rollhaven2.bak does not hold the previous build"
  grep -q 'start-up: login: dev01' "$output" || fail "the restarted program did not log in"
  grep -q '1 \[x\] 원장관리' "$output" || fail "the restarted program did not list the grid of inis/demo.ini"
  echo "hand-over checked: rollhaven2 replaced, rollhaven2.bak kept, the restarted program logged in and listed the grid"
fi

report=${release_log%.log}.json
cat <<NEXT

Demo finished: the release ran in ${release_seconds} s and every check passed.
Where to look next:
  run log      $release_log
  report       $report
  the window   DEMO_NO_BUILD=1 DEMO_WINDOW=1 scripts/demo.sh
               (the same release, then the window on this sandbox with its servers up:
               log in as dev01, password "demo"; 실행 기록 shows the runs)
  run again    DEMO_NO_BUILD=1 scripts/demo.sh   (lays the sandbox out afresh)
NEXT

# The window on the sandbox, its servers still up; they stop when it closes.
if [[ -n ${DEMO_WINDOW:-} ]]; then
  echo
  echo "== the window (close it to end the demo) =="
  "$APP" "$SANDBOX/inis/demo.ini" || fail "the window ended with exit code $?"
fi
