#!/usr/bin/env bash
# Checks the install, not the release: builds the Debian package from a built
# tree, runs lintian, desktop-file-validate and appstreamcli on it, runs the
# package's program and companions unpacked in a folder of the user's through
# the demo and its self-update, installs it with apt-get, runs the installed
# program (version, help, first start, the demo release, no self-update),
# removes it and checks that only the user's files are left. A rollhaven2
# installed before is removed first, so the install checks always run; the
# demo runs must end with exit 0 and without an "[오류]" line.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
BUILD=${BUILD_DIR:-$ROOT/build}
SUDO=""
if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
export DEBIAN_FRONTEND=noninteractive

step() { echo "== package: $* =="; }
fail() {
  echo "package check failed: $*" >&2
  exit 1
}
# A demo run counts only without "[오류]" lines, whatever its exit code.
no_errors() { # log what
  if grep -q '\[오류\]' "$1"; then
    cat "$1"
    fail "$2 logged errors: $(grep -c '\[오류\]' "$1") [오류] line(s)"
  fi
}

step "build the .deb"
rm -f "$BUILD"/rollhaven2_*.deb
(cd "$BUILD" && cpack -G DEB >/dev/null)
DEB=$(echo "$BUILD"/rollhaven2_*.deb)
[[ -f $DEB ]] || fail "cpack made no package"
VERSION=$(dpkg-deb -f "$DEB" Version)
echo "$DEB"
dpkg-deb -f "$DEB" Depends

step "lintian"
# Tags below error level are printed and kept (the README lists them and why).
lintian --allow-root --fail-on error -I "$DEB"

step "desktop entry and metainfo"
desktop-file-validate packaging/*.desktop
appstreamcli validate --no-net "$BUILD"/packaging/*.metainfo.xml

WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

step "the package's program and companions, unpacked outside /usr"
# Installed layout in a writable folder: the companions in lib/rollhaven2 are
# brought up to date there, the checker leaves the published build beside the
# program and the file changer replaces it.
ROLLHAVEN2_PACKAGE=$DEB ROLLHAVEN2_SANDBOX="$WORK/unpacked" scripts/demo.sh > "$WORK/unpacked.log" 2>&1 \
  || { cat "$WORK/unpacked.log"; fail "the demo failed with the unpacked package"; }
no_errors "$WORK/unpacked.log" "the demo with the unpacked package"
LIBDIR="$WORK/unpacked/package/usr/lib/rollhaven2"
grep -q "^start-up: update: downloaded AutoVersionCheckerV1.exe" "$WORK/unpacked.log" \
  || { cat "$WORK/unpacked.log"; fail "the unpacked program did not update its companions"; }
published=$("$BUILD/next/AutoVersionCheckerV1.exe" --revision)
for c in AutoVersionCheckerV1.exe filechanger.exe; do
  [[ $("$LIBDIR/$c" --revision) == "$published" ]] || fail "$LIBDIR/$c was not updated to revision $published"
done
grep -q "^hand-over checked: rollhaven2 replaced" "$WORK/unpacked.log" \
  || { cat "$WORK/unpacked.log"; fail "the companions in lib/rollhaven2 did not replace the unpacked program"; }
[[ ! -e $LIBDIR/New_rollhaven2 ]] || fail "the new build landed in lib/rollhaven2, not beside the program"
sed -n '/^file changer log:/,/^program folder/p' "$WORK/unpacked.log" | head -n 5

if [[ $(dpkg-query -W -f='${db:Status-Abbrev}' rollhaven2 2>/dev/null || true) == [ir]* ]]; then
  step "remove the rollhaven2 installed before"
  $SUDO apt-get purge -y -qq rollhaven2 >/dev/null || fail "cannot remove the rollhaven2 installed before"
  [[ $(dpkg-query -W -f='${db:Status-Abbrev}' rollhaven2 2>/dev/null || true) != [ir]* ]] \
    || fail "rollhaven2 is still installed; the install checks cannot run"
fi
[[ ! -e /usr/bin/rollhaven2 ]] || fail "/usr/bin/rollhaven2 exists without the package; the install checks cannot run"

step "install"
$SUDO apt-get install -y -qq "$DEB" >/dev/null
mapfile -t OWNED < <(dpkg-query -L rollhaven2)
installed=0
cleanup() {
  if ((installed)); then $SUDO apt-get remove -y -qq rollhaven2 >/dev/null 2>&1 || true; fi
  rm -rf "$WORK"
}
trap cleanup EXIT
installed=1
APP=/usr/bin/rollhaven2
for f in "$APP" /usr/share/applications/com.tarvelsoft.Rollhaven2.desktop \
  /usr/share/icons/hicolor/scalable/apps/rollhaven2.svg /usr/share/icons/hicolor/48x48/apps/rollhaven2.png \
  /usr/share/metainfo/com.tarvelsoft.Rollhaven2.metainfo.xml /usr/share/bash-completion/completions/rollhaven2; do
  [[ -e $f ]] || fail "not installed: $f"
done

step "installed program"
got=$(env -u DISPLAY -u WAYLAND_DISPLAY "$APP" --version)
[[ $got == "rollhaven2 $VERSION" ]] || fail "--version printed '$got', expected 'rollhaven2 $VERSION'"
echo "$got"
help=$("$APP" --headless --help) || fail "--headless --help failed"
for flag in --ini --rows --steps --dest --junit --password-file; do
  grep -q -- "^ *$flag " <<<"$help" || fail "--headless --help does not describe $flag"
done
for c in AutoVersionCheckerV1.exe filechanger.exe; do
  rev=$("/usr/lib/rollhaven2/$c" --revision) || fail "/usr/lib/rollhaven2/$c does not run"
  echo "/usr/lib/rollhaven2/$c revision $rev"
done

step "first start"
USER_HOME="$WORK/config/rollhaven2"
XDG_CONFIG_HOME="$WORK/config" "$APP" --headless --list > /dev/null 2> "$WORK/first.err" || true
grep -q "처음 실행입니다. 프로그램 폴더를 만들었습니다: $USER_HOME" "$WORK/first.err" \
  || { cat "$WORK/first.err"; fail "the first start did not say it laid out $USER_HOME"; }
[[ -f $USER_HOME/site.ini && -d $USER_HOME/inis ]] || fail "the first start made no site.ini template and inis/"
head -n 3 "$WORK/first.err"

step "no built-in secrets"
# The passwords earlier builds carried as defaults must be in no installed
# file, as 8-bit or as UTF-16 text; the first start's files are the owner's.
for f in "${OWNED[@]}"; do
  [[ -f $f ]] || continue
  for enc in s l; do
    if strings -a -e "$enc" "$f" | grep -qF -e 'tv!n2020' -e 'webH0st!2020' -e 'ftp#Tarvel21'; then
      fail "$f holds a built-in password (strings -e $enc)"
    fi
  done
done
[[ $(stat -c %a "$USER_HOME") == 700 && $(stat -c %a "$USER_HOME/site.ini") == 600 ]] \
  || fail "the first start's folder or site.ini is not the owner's alone"

step "demo release with the installed program"
ROLLHAVEN2_PROGRAM=$APP ROLLHAVEN2_SANDBOX="$WORK/sandbox" scripts/demo.sh > "$WORK/demo.log" 2>&1 \
  || { cat "$WORK/demo.log"; fail "the demo release failed with the installed program"; }
grep -q "^Finish! " "$WORK/demo.log" || { cat "$WORK/demo.log"; fail "the demo release did not finish"; }
no_errors "$WORK/demo.log" "the demo release with the installed program"
grep "^Finish! " "$WORK/demo.log"
# The package manager updates a packaged program, never the program itself.
grep -q "^start-up: update: skipped, /usr/bin belongs to an installed package" "$WORK/demo.log" \
  || { cat "$WORK/demo.log"; fail "the installed program did not skip its self-update"; }

step "remove"
$SUDO apt-get remove -y -qq rollhaven2 >/dev/null
installed=0
status=$(dpkg-query -W -f='${db:Status-Abbrev}' rollhaven2 2>/dev/null || true)
[[ $status != i* && $status != rc* ]] || fail "package still registered after removal: '$status'"
for p in "${OWNED[@]}"; do
  # Shared folders (/usr/share/icons/hicolor/...) stay when another package owns them.
  if [[ -e $p ]] && ! dpkg-query -S "$p" >/dev/null 2>&1; then
    fail "left behind: $p"
  fi
done
left=$(find /usr/bin /usr/lib /usr/share /etc -ipath '*rollhaven2*' 2>/dev/null | head -5)
[[ -z $left ]] || fail "left behind: $left"
[[ -f $USER_HOME/site.ini ]] || fail "removing the package took the user's site.ini"
echo "nothing left but the user's files"
