#!/usr/bin/env bash
# Run by scripts/demo.sh (DEMO_CHECK) once the demo sandbox and its services
# are up. The GitLab recipe (docs/ci/gitlab-ci.yml), unchanged, runs its release
# job under gitlab-ci-local with the shell executor against the sandbox: the job
# downloads the package built from this tree from the sandbox's web server,
# unpacks it into its checkout (RH_INSTALL=unpack: the machine's own install,
# which the package check owns, stays untouched), takes site.ini and the
# password from CI variables and runs the release. Its log, report and JUnit
# file must be among the job's artefacts, and the JUnit file must pass.
set -euo pipefail
: "${ROOT:?}" "${SANDBOX:?}" "${BUILD:?}"
fail() { echo "FAIL: $*" >&2; exit 1; }

command -v gitlab-ci-local > /dev/null || fail "gitlab-ci-local is not installed (scripts/deps.sh installs it)"
echo "gitlab-ci-local $(gitlab-ci-local --version)"

work=$SANDBOX/gitlab-ci
project=$work/project
mkdir -p "$work/package" "$project"

# The package, as `cmake --build build --target package` makes it, into a
# folder of its own (the package check rebuilds the one in the build folder).
cpack --config "$BUILD/CPackConfig.cmake" -G DEB -B "$work/package" > "$work/cpack.log" 2>&1 ||
  { cat "$work/cpack.log"; fail "cpack made no package"; }
deb=$(echo "$work"/package/rollhaven2_*.deb)
[[ -f $deb ]] || fail "cpack made no package"
port=$(sed -n 's/^WebHttpPort=\([0-9]*\)$/\1/p' "$SANDBOX/site.ini" | head -1)
[[ -n $port ]] || fail "no web server port in the sandbox's site.ini"
mkdir -p "$SANDBOX/http/root/packages"
cp "$deb" "$SANDBOX/http/root/packages/"

# The department's repository: the recipe as its .gitlab-ci.yml, the setup
# INIs and what else the program folder holds.
cp "$ROOT/docs/ci/gitlab-ci.yml" "$project/.gitlab-ci.yml"
cp -r "$SANDBOX/inis" "$project/"
mkdir -p "$project/program-folder"
cp "$SANDBOX/웹인증번호업데이터.exe" "$project/program-folder/"
# The certificate the signed files are checked against (site.ini names it
# relative to the program folder); its key stays with the signing station.
mkdir -p "$project/program-folder/signing"
cp "$SANDBOX/signing/demo-cert.pem" "$project/program-folder/signing/"
git -C "$project" init -q
git -C "$project" add -A
git -C "$project" -c user.name=ci -c user.email=ci@localhost commit -qm "release repository"

# The build server's site.ini: the sandbox's, with its drives as absolute
# folders (the job's program folder is in the checkout).
site=$work/site.ini
(umask 077; sed -E "s#^([A-Za-z]:|\\\\\\\\[^=]*)=drives/#\\1=$SANDBOX/drives/#" "$SANDBOX/site.ini" > "$site")
grep -q "^C:=$SANDBOX/drives/C$" "$site" || fail "the drives of site.ini were not made absolute: $(grep -A5 '^\[Drives\]' "$site")"

# The CI variables, as the project's settings would hold them: never committed.
password=$(head -n 1 "$SANDBOX/password")
[[ $password != *"'"* ]] || fail "the demo password cannot be quoted"
(umask 077; cat > "$project/.gitlab-ci-local-variables.yml" <<VARS
RH_SITE_INI: $site
ROLLHAVEN2_PASSWORD: '$password'
RH_DEB_URL: http://127.0.0.1:$port/packages/$(basename "$deb")
RH_INSTALL: unpack
RH_FLAGS: --today 2026-12-09
VARS
)

# Started as "Run pipeline" would (the recipe's rules), with a settings folder
# of its own and no password but the CI variable.
out=$SANDBOX/logs/gitlab-ci-local.out
rc=0
(cd "$project" && env -u ROLLHAVEN2_PASSWORD XDG_CONFIG_HOME="$work/config" \
  timeout 900 gitlab-ci-local --shell-executor-no-image --variable CI_PIPELINE_SOURCE=web rollhaven2-release) \
  > "$out" 2>&1 || rc=$?
# gitlab-ci-local leaves the file variables in /tmp: the site.ini copy goes.
for d in /tmp/gitlab-ci-local-file-variables-*/; do
  if cmp -s "$d/RH_SITE_INI" "$site"; then rm -rf "$d"; fi
done
sed 's/^/  /' "$out"
((rc == 0)) || fail "the release job failed (gitlab-ci-local exited $rc)"

[[ -x $project/rollhaven2-root/usr/bin/rollhaven2 ]] || fail "the job did not unpack the package into its checkout"
[[ ! -e $project/rollhaven2-home/site.ini ]] || fail "site.ini stayed in the build folder"

artefacts=$project/.gitlab-ci-local/artifacts/rollhaven2-release
junit=$artefacts/rollhaven2-junit.xml
for pattern in rollhaven2-home/logs/run_*.log rollhaven2-home/logs/run_*.journal.txt rollhaven2-home/logs/run_*.json \
  rollhaven2-junit.xml; do
  compgen -G "$artefacts/$pattern" > /dev/null || fail "no artefact $pattern"
done
grep -q '^Finish! ' "$artefacts"/rollhaven2-home/logs/run_*.log || fail "the release's log does not end in Finish!"
xmllint --noout --schema "$ROOT/docs/schemas/junit.xsd" "$junit" || fail "the JUnit file does not follow the XSD"
cases=$(xmllint --xpath 'count(//testcase)' "$junit")
failed=$(xmllint --xpath 'count(//testcase[failure or error])' "$junit")
((cases > 0 && failed == 0)) || fail "the JUnit file has $cases cases, $failed failed: $(grep -A2 '<failure\|<error' "$junit")"
echo "GitLab release job: artefacts kept, JUnit file passes ($cases cases)"
