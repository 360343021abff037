#!/usr/bin/env bash
# Installs the Debian package `make package` built, as a user would (apt-get install ./lintbay_….deb),
# checks the installed menu entry and metainfo with their validators, starts the program the way its
# menu entry does, offscreen, and checks that it is still running after a few seconds; then removes
# the package again. Uses sudo when not run as root. Meant for CI machines: a lintbay package
# installed before is replaced and then removed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
app_id=org.lintbay.Lintbay
seconds=${LINTBAY_START_SECONDS:-5}

shopt -s nullglob
debs=("$build"/lintbay_*.deb)
shopt -u nullglob
if [ ${#debs[@]} -ne 1 ]; then
  echo "package-check: expected one lintbay_*.deb in $build (run 'make package'), found ${#debs[@]}" >&2
  exit 1
fi
deb=${debs[0]}

sudo=""
[ "$(id -u)" -ne 0 ] && sudo="sudo"

fail() {
  echo "package-check: $*" >&2
  exit 1
}

# The dependencies were computed from the program's libraries, not only the hand-written ones.
depends=$(dpkg-deb -f "$deb" Depends)
echo "package-check: $(basename "$deb") depends on: $depends"
for library in libqt6widgets6 libqt6webenginecore6-bin libgumbo; do
  grep -q "$library" <<<"$depends" || fail "Depends lacks $library: dpkg-shlibdeps did not run"
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/lintbay-package.XXXXXX")
pid=
installed=
cleanup() {
  if [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null; then
    kill "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
  fi
  if [ -n "$installed" ]; then
    DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y --purge lintbay >/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT

# apt reads local packages as its own unprivileged user: give it a copy it can read.
cp "$deb" "$tmp/"
chmod 755 "$tmp"
chmod 644 "$tmp/$(basename "$deb")"
installed=1
# Without the recommended packages: what the package depends on must be enough to start it.
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y --no-install-recommends "$tmp/$(basename "$deb")"

entry=/usr/share/applications/$app_id.desktop
metainfo=/usr/share/metainfo/$app_id.metainfo.xml
for file in "$entry" "$metainfo" /usr/share/icons/hicolor/48x48/apps/$app_id.png \
            /usr/share/icons/hicolor/256x256/apps/$app_id.png; do
  [ -f "$file" ] || fail "$file is not installed"
done
desktop-file-validate "$entry"
# No network here: the screenshot addresses are checked for form, not fetched.
appstreamcli validate --no-net "$metainfo"

# Start the command of the menu entry (field codes such as %U dropped), with settings and data in a
# folder of its own so that the check leaves nobody's settings behind.
exec_line=$(sed -n 's/^Exec=//p' "$entry" | head -n 1)
[ -n "$exec_line" ] || fail "$entry has no Exec line"
read -r -a command <<<"${exec_line//%[a-zA-Z]/}"
program=$(command -v "${command[0]}") || fail "${command[0]} of the menu entry is not on PATH"
[ "$program" = "/usr/bin/${command[0]}" ] || fail "${command[0]} is found at $program, not in /usr/bin"

mkdir -p "$tmp/home" "$tmp/config" "$tmp/data" "$tmp/cache" "$tmp/runtime"
chmod 700 "$tmp/runtime"
env HOME="$tmp/home" XDG_CONFIG_HOME="$tmp/config" XDG_DATA_HOME="$tmp/data" \
    XDG_CACHE_HOME="$tmp/cache" XDG_RUNTIME_DIR="$tmp/runtime" QT_QPA_PLATFORM=offscreen \
    QTWEBENGINE_DISABLE_SANDBOX=1 QTWEBENGINE_CHROMIUM_FLAGS="--disable-gpu --no-sandbox" \
    "${command[@]}" >"$tmp/output.log" 2>&1 &
pid=$!
sleep "$seconds"
if ! kill -0 "$pid" 2>/dev/null; then
  status=0
  wait "$pid" || status=$?
  pid=
  cat "$tmp/output.log" >&2
  fail "the installed program ended within $seconds s (exit status $status)"
fi
kill "$pid"
wait "$pid" 2>/dev/null || true
pid=
echo "package-check: the installed program ran for $seconds s"

DEBIAN_FRONTEND=noninteractive $sudo apt-get remove -y --purge lintbay
installed=
[ ! -e "$entry" ] && [ ! -e /usr/bin/lintbay ] || fail "removing the package left its files"
echo "package-check: installed, validated, started and removed $(basename "$deb")"
