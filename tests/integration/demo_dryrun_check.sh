#!/usr/bin/env bash
# Run by scripts/demo.sh (DEMO_CHECK) once the demo sandbox and its services
# are up. A dry run of the demo release changes no byte of the sandbox's
# folders, no file on the FTP server and no database row, and exits 0; the
# plan of a dry run agrees entry by entry with the journal of the real run of
# the same selection that follows it (placeholders match any value); the run
# reports follow their JSON Schema and the JUnit file its XSD.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}" "${APP:?}"
mapfile -t RUN_FLAGS < <(grep -v '^$' "$SANDBOX/run_flags" || true)
FLAGS=(--headless --ini demo.ini --today 2026-12-09 --group 1 --yes "${RUN_FLAGS[@]}")

sql() { bash "$ROOT/tests/support/tools/mariadb_sandbox.sh" sql "$SANDBOX/mariadb" -N -B "$@"; }

# Every folder and file (type, mode, digest) outside the run's own logs and
# the services' state, and every row of every table.
snapshot() {
  (cd "$SANDBOX" &&
    find . \( -path ./logs -o -path ./pids -o -path ./mariadb -o -path ./http/server.log \) -prune -o -printf '%y %m %p\n' | LC_ALL=C sort &&
    find . \( -path ./logs -o -path ./pids -o -path ./mariadb -o -path ./http/server.log \) -prune -o -type f -print0 |
      LC_ALL=C sort -z | xargs -0 -r sha256sum)
  sql -e "SELECT CONCAT(table_schema, '.', table_name) FROM information_schema.tables
          WHERE table_schema IN ('tv_inhouse', 'webhost') ORDER BY 1" |
    while read -r t; do
      echo "== $t"
      sql -e "SELECT * FROM $t ORDER BY 1"
    done
}

newest_report() { ls -1 "$SANDBOX"/logs/run_*.json | LC_ALL=C sort | tail -1; }

fail() { echo "FAIL: $*" >&2; exit 1; }

# Run files are named by the second a run starts in.
next_second() { local s; s=$(date +%s); while [[ $(date +%s) == "$s" ]]; do sleep 0.05; done; }

# 1. A dry run of the whole demo release changes nothing.
before=$(snapshot)
"$APP" "${FLAGS[@]}" --dry-run > "$SANDBOX/logs/dry.out" || fail "the dry run exited $?"
after=$(snapshot)
if [[ $before != "$after" ]]; then
  diff <(echo "$before") <(echo "$after") >&2 || true
  fail "the dry run changed the sandbox"
fi
grep -q '^모의실행 계획:' "$SANDBOX/logs/dry.out" || fail "no plan in the dry run's log"
ls "$SANDBOX"/logs/run_*.plan.txt > /dev/null || fail "no plan file beside the run log"
echo "dry run: sandbox, FTP files and database rows unchanged"

# 2. The real release, then a plan and a real run of the same later selection
# (setups and distribution again) from the same starting state.
next_second
"$APP" "${FLAGS[@]}" > /dev/null || fail "the release exited $?"
again=(--steps setup,setupsign,distribute)
next_second
"$APP" "${FLAGS[@]}" "${again[@]}" --dry-run > /dev/null || fail "the second dry run exited $?"
plan=$(newest_report)
next_second
junit=$SANDBOX/logs/junit.xml
"$APP" "${FLAGS[@]}" "${again[@]}" --junit "$junit" > /dev/null || fail "the second release exited $?"
real=$(newest_report)
[[ $plan != "$real" ]] || fail "no report of the second release"

# The JUnit file follows the XSD kept in the repository: a case per step and project.
xmllint --noout --schema "$ROOT/docs/schemas/junit.xsd" "$junit" || fail "the JUnit file does not follow the XSD"
[[ $(xmllint --xpath 'count(//testcase[@name="원장관리"])' "$junit") == 3 &&
   $(xmllint --xpath 'count(//testcase[failure or skipped])' "$junit") == 0 ]] ||
  fail "unexpected JUnit cases: $(grep '<testcase ' "$junit")"

# Every report of these runs validates against the schema kept in the repository.
/usr/bin/python3 - "$ROOT/docs/schemas/run-report.schema.json" "$SANDBOX"/logs/run_*.json <<'PY'
import json, sys
from jsonschema import Draft202012Validator
with open(sys.argv[1], encoding="utf-8") as f:
    validator = Draft202012Validator(json.load(f))
for path in sys.argv[2:]:
    with open(path, encoding="utf-8") as f:
        errors = [f"{'/'.join(map(str, e.path))}: {e.message}" for e in validator.iter_errors(json.load(f))]
    if errors:
        sys.exit(f"{path} does not follow the schema:\n  " + "\n  ".join(errors[:10]))
print(f"{len(sys.argv) - 2} run reports follow the schema")
PY

/usr/bin/python3 - "$plan" "$real" <<'PY'
import json, re, sys

def effects(path):
    with open(path, encoding="utf-8") as f:
        return [e for e in json.load(f)["journal"] if e["kind"] != "wait"]

def agrees(planned, real):
    parts = re.split("《[^》]*》", planned or "")
    pattern = ".+?".join(re.escape(p) for p in parts)
    return re.fullmatch(pattern, real or "", re.S) is not None

plan, real = effects(sys.argv[1]), effects(sys.argv[2])
assert all(e["planned"] for e in plan) and not any(e["planned"] for e in real)
for i, (p, r) in enumerate(zip(plan, real)):
    same = (p["kind"], p["step"], p["project"]) == (r["kind"], r["step"], r["project"])
    sizes = "size" not in p or "size" not in r or p["size"] == r["size"]
    if not (same and sizes and agrees(p["target"], r["target"]) and agrees(p.get("detail"), r.get("detail"))):
        sys.exit(f"entry {i + 1} differs:\n plan {p}\n run  {r}")
if len(plan) != len(real):
    sys.exit(f"{len(plan)} planned entries, {len(real)} done")
kinds = sorted({e["kind"] for e in real})
print(f"plan and journal agree: {len(real)} entries ({', '.join(kinds)})")

# Every version file on the FTP server is checked under its own project: its
# name begins with the name of that project's setup.
with open(sys.argv[2], encoding="utf-8") as f:
    checks = json.load(f)["verification"]
setups = {c["project"]: c["check"].split()[-1].lower().removesuffix("_2.exe")
          for c in checks if c["check"].startswith("셋업 버전 ")}
for c in checks:
    name = c["check"].rsplit("/", 1)[-1].lower()
    if c["check"].startswith("FTP 크기 ") and name.endswith(".ver") and not name.startswith(setups.get(c["project"], "?")):
        sys.exit(f"{c['check']} is checked under {c['project']}")
PY
