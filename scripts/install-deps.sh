#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing Lintbay need.
# Does nothing when every package is already present.
set -euo pipefail

packages=(
  cmake make g++ pkg-config
  qt6-base-dev qt6-base-dev-tools qt6-qpa-plugins libgl-dev libqt6sql6-sqlite
  qt6-webengine-dev qt6-webengine-dev-tools libqt6webenginecore6-bin
  qt6-multimedia-dev
  libgumbo-dev libicu-dev libopencc-dev libopencc-data libxxhash-dev
  fonts-wqy-microhei
  # The transfer suites' HTTPS/HTTP/2 host: nginx with a test authority made by openssl.
  nginx openssl
  # `make test-sanitize`: clang and its AddressSanitizer/UndefinedBehaviorSanitizer runtimes.
  clang libclang-rt-14-dev
  # The URL cache's fuzz target hands SQLite an allocator of its own.
  libsqlite3-dev
  # `make package` (dpkg-shlibdeps; CPack finds the executables with file), `make package-check`
  # (the validators of the menu entry and the metainfo) and `make screenshots` (Xvfb).
  dpkg-dev file desktop-file-utils appstream xvfb xauth
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "${missing[@]}"
