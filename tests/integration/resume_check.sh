#!/usr/bin/env bash
# Run by scripts/demo.sh (DEMO_CHECK) once the demo sandbox and its services
# are up. A release whose second product's FTP upload fails is finished by
# --resume once the server takes the file again: the end state is the one of
# an uninterrupted release, nothing of the first product is built, signed,
# uploaded or recorded twice, --resume --dry-run plans only the missing work,
# and a public file that a third party replaced stops a resume before it
# changes anything.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}" "${APP:?}"
mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)
FLAGS=(--headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}")
# A resume takes the run's own steps: only the password and the answers.
mapfile -t RESUME < <(grep -v '^$\|^--steps' "$SANDBOX/run_flags" || true)
RESUME=(--headless --yes "${RESUME[@]}" --resume)
export RH_STANDIN_LOG=$SANDBOX/logs/standin.log

fail() { echo "FAIL: $*" >&2; exit 1; }
sql() { bash "$ROOT/tests/support/tools/mariadb_sandbox.sh" sql "$SANDBOX/mariadb" -N -B "$@"; }
next_second() { local s; s=$(date +%s); while [[ $(date +%s) == "$s" ]]; do sleep 0.05; done; }
newest() { ls -1 "$SANDBOX"/logs/run_*."$1" | LC_ALL=C sort | tail -1; }

FTP=$SANDBOX/ftp/public_html/download
DESTS=("$SANDBOX/drives/C/Release/배포" "$SANDBOX/drives/fileserver/프로그램셋업/1_정식버전" "$FTP")
# What a release leaves: names and digests on every destination, the FTP
# server's files with sizes, the version files, diary and catalogue rows.
state() {
  for d in "${DESTS[@]}" "$FTP/versions"; do
    echo "== $d"
    (cd "$d" && find . -maxdepth 1 -type f -printf '%s %p\n' | LC_ALL=C sort)
    (cd "$d" && find . -maxdepth 1 -type f -print0 | LC_ALL=C sort -z | xargs -0 -r sha256sum)
  done
  for v in "$FTP"/versions/*.ver; do echo "$(basename "$v"): $(iconv -f CP949 -t UTF-8 "$v")"; done
  sql -e "SELECT d.writer, d.note, p.partcode, COUNT(*) FROM tv_inhouse.diary d
          JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq GROUP BY 1, 2, 3 ORDER BY 2"
  sql -e "SELECT code, rname FROM webhost.file_rname ORDER BY code"
}
# Everything in the sandbox and every row, but for the run files and the
# database thread ids every login keeps (config.ini).
snapshot() {
  (cd "$SANDBOX" &&
    find . \( -path ./logs -o -path ./pids -o -path ./mariadb -o -path ./http/server.log -o -path ./config.ini \) \
      -prune -o -type f -print0 |
      LC_ALL=C sort -z | xargs -0 -r sha256sum)
  sql -e "SELECT seq, note FROM tv_inhouse.diary ORDER BY 1; SELECT * FROM webhost.file_rname ORDER BY 1"
}
tool_starts() {
  echo "vb6 $(grep -c '^vb6 ' "$RH_STANDIN_LOG" 2>/dev/null || true)" \
    "builders $(wc -l < "$SANDBOX/setupbuilders.log" 2>/dev/null || echo 0)" \
    "signed $(grep -c '^signed ' "$SANDBOX/logs/signstation.log" || true)"
}
# Drop the "_2" upload of 세금계산서 on the FTP server: a folder of its name
# is there, so the server refuses the file.
block_upload() { mkdir -p "$FTP/tax_setup_2.exe"; }
unblock_upload() { rmdir "$FTP/tax_setup_2.exe"; }

# 1. An uninterrupted release: the state to reach (names, texts, one diary
# row per product). A release run over it writes the same names and texts;
# its diary rows go, so that the one to come writes them anew.
"$APP" "${FLAGS[@]}" > /dev/null || fail "the uninterrupted release exited $?"
names() { state | grep -v '^[0-9a-f]\{64\} ' | sed -E 's/^[0-9]+ //; s/(\.ver: [0-9.]+;).*/\1/'; }
expected=$(names)
sql -e "DELETE FROM tv_inhouse.diary_part; DELETE FROM tv_inhouse.diary"

# 2. The same release with 세금계산서's upload refused.
block_upload
next_second
rc=0; "$APP" "${FLAGS[@]}" > "$SANDBOX/logs/failed.out" 2>&1 || rc=$?
(( rc != 0 )) || fail "the release with a refused upload exited 0"
failed_run=$(basename "$(newest journal.jsonl)" .journal.jsonl)
unblock_upload
before_starts=$(tool_starts)

# 3. The plan of the resume: the missing work of 세금계산서 only, nothing changed.
before=$(snapshot)
next_second
"$APP" "${RESUME[@]}" --dry-run > "$SANDBOX/logs/resume-plan.out" 2>&1 \
  || fail "the resume's dry run exited $?: $(tail -3 "$SANDBOX/logs/resume-plan.out")"
[[ $(snapshot) == "$before" ]] || fail "the resume's dry run changed the sandbox"
plan=$(sed -n '/^모의실행 계획:/,/^$/p' "$SANDBOX/logs/resume-plan.out")
grep -q 'FTP전송 /public_html/download/tax_setup_2.exe' <<<"$plan" || fail "the plan misses the refused upload: $plan"
# 원장관리's files, and any build or signing hand-over, are done already.
if grep -qi 'ledger\|vb6\|IsCmdBld\|compil32\|Codesigning' <<<"$plan"; then
  fail "the plan redoes finished work: $(grep -i 'ledger\|vb6\|IsCmdBld\|compil32\|Codesigning' <<<"$plan" | head -3)"
fi
echo "resume plan: $(grep -c '^    [0-9]' <<<"$plan") effects, all of 세금계산서's upload and after"

# 4. The resume finishes the release.
next_second
"$APP" "${RESUME[@]}" "$failed_run" > "$SANDBOX/logs/resume.out" 2>&1 \
  || fail "the resume exited $?: $(tail -5 "$SANDBOX/logs/resume.out")"
resume_log=$(newest log)
[[ $(tool_starts) == "$before_starts" ]] || fail "tools were started again: $before_starts -> $(tool_starts)"
grep -q "^이어하기: $failed_run 실행을 이어서 합니다." "$resume_log" || fail "the resume's log does not name $failed_run"
grep -q "\"resumes\": \"$failed_run\"" "${resume_log%.log}.json" || fail "the resume's report does not name $failed_run"
grep -q '^이미 완료: FTP전송 /public_html/download/TVledger2_setup_2.exe' "$resume_log" \
  || fail "no 이미 완료 line for 원장관리's upload"
grep -q '^이미 완료: SQL INSERT INTO diary .*원장관리' "$resume_log" || fail "no 이미 완료 line for 원장관리's diary entry"
[[ $(names) == "$expected" ]] || { diff <(echo "$expected") <(names) >&2 || true; fail "the end state differs from an uninterrupted release"; }
for setup in TVledger2_setup.exe TVledger2_setup_patch.exe tax_setup.exe tax_setup_patch.exe; do
  for d in "${DESTS[@]}"; do
    cmp -s "${DESTS[0]}/$setup" "$d/$setup" || fail "$setup on $d differs from ${DESTS[0]}"
  done
done
# One diary row per product: 원장관리's from the failed run, 세금계산서's from the resume.
counts=$(sql -e "SELECT COUNT(*) FROM tv_inhouse.diary d JOIN tv_inhouse.diary_part p ON p.diaryseq = d.seq
                 GROUP BY d.note ORDER BY d.note" | tr '\n' ' ')
[[ $counts == "1 1 " ]] || fail "diary rows per product: $counts (expected 1 1)"
grep -q '검증 결과' "$resume_log" || fail "the resume did not verify the release"
! sed -n '/^검증 결과/,/^$/p' "$resume_log" | sed 1d | grep ' | ' | grep -v ' | 일치$' | grep -q . \
  || fail "verification rows that are not 일치 after the resume"
echo "resume: end state of an uninterrupted release, no tool started, no second diary row"

# 5. A third party's file on a public name stops the resume before it changes anything.
block_upload
next_second
"$APP" "${FLAGS[@]}" > /dev/null 2>&1 && fail "the second release with a refused upload exited 0"
unblock_upload
printf 'not ours' > "${DESTS[0]}/TVledger2_setup.exe"
before=$(snapshot)
next_second
rc=0; "$APP" "${RESUME[@]}" > "$SANDBOX/logs/refused.out" 2>&1 || rc=$?
(( rc == 2 )) || fail "a resume over a replaced public file exited $rc, expected 2"
grep -q "${DESTS[0]}/TVledger2_setup.exe" "$SANDBOX/logs/refused.out" || fail "the refusal does not name the file"
after=$(snapshot)
[[ $after == "$before" ]] || { diff <(echo "$before") <(echo "$after") >&2 || true; fail "the refused resume changed the sandbox"; }
echo "refusal: named ${DESTS[0]}/TVledger2_setup.exe, nothing changed"
