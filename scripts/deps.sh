#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the demo need, when missing.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev qt6-translations-l10n
  libcurl4-openssl-dev curl
  libsodium-dev minisign openssl
  libmariadb-dev mariadb-server mariadb-client
  python3 python3-pyftpdlib vsftpd python3-jsonschema libxml2-utils
  googletest libgtest-dev libgmock-dev
  fonts-nanum
  libimage-exiftool-perl mingw-w64 binutils-mingw-w64
  xdg-utils
  openssl osslsigncode
  dpkg-dev file lintian desktop-file-utils appstream librsvg2-bin
  rsync
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if ((${#missing[@]})); then
  echo "installing: ${missing[*]}"
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  $SUDO apt-get update -qq
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
fi

# gitlab-ci-local runs the GitLab recipe's job in a test; 4.55.0 runs on Node 20
# (newer releases need Node 22).
GITLAB_CI_LOCAL=4.55.0
if [[ $(gitlab-ci-local --version 2>/dev/null) != "$GITLAB_CI_LOCAL" ]]; then
  SUDO=""
  if [[ $(id -u) -ne 0 ]]; then SUDO="sudo"; fi
  if ! command -v npm > /dev/null; then
    $SUDO apt-get update -qq
    DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends nodejs npm
  fi
  echo "installing: gitlab-ci-local@$GITLAB_CI_LOCAL"
  $SUDO npm install -g --no-fund --no-audit "gitlab-ci-local@$GITLAB_CI_LOCAL" > /dev/null
fi
