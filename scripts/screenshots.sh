#!/usr/bin/env bash
# Redraws the pictures of the windows in docs/ (cover.png, search.png, download.png): the program's
# windows run under Xvfb against the local search engine (tools/screenshots, built with the program),
# with settings, browser data and downloads in a temporary folder that is removed afterwards. The
# pictures replace those in docs/ only when all of them were made.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
tool=$build/tools/screenshots/lintbay-screenshots
if [ ! -x "$tool" ]; then
  echo "screenshots: $tool is missing; run 'make build' first" >&2
  exit 1
fi
command -v xvfb-run >/dev/null || { echo "screenshots: xvfb-run is missing (package xvfb)" >&2; exit 1; }

tmp=$(mktemp -d "${TMPDIR:-/tmp}/lintbay-screenshots.XXXXXX")
trap 'rm -rf "$tmp"' EXIT
mkdir -p "$tmp/config" "$tmp/data" "$tmp/cache" "$tmp/runtime" "$tmp/pictures"
chmod 700 "$tmp/runtime"
export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache
export XDG_RUNTIME_DIR=$tmp/runtime
# The embedded browser refuses to run as root unless its sandbox is off.
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi
export QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu"

xvfb-run -a -s "-screen 0 1280x900x24" env QT_QPA_PLATFORM=xcb "$tool" "$tmp/pictures"
for picture in cover search download; do
  [ -s "$tmp/pictures/$picture.png" ] || { echo "screenshots: $picture.png was not made" >&2; exit 1; }
done
mkdir -p "$root/docs"
for picture in cover search download; do
  cp "$tmp/pictures/$picture.png" "$root/docs/.$picture.png.tmp"
  mv -f "$root/docs/.$picture.png.tmp" "$root/docs/$picture.png"
done
echo "screenshots: docs/cover.png, docs/search.png, docs/download.png"
