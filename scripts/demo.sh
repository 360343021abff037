#!/usr/bin/env bash
# Starts Lintbay against the local search engine (tools/fakeweb) with settings of its own in a
# temporary folder, so a demo needs no internet and leaves the user's settings alone. When the
# program exits, the engine is stopped and the folder removed.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD:-build}
case $build in /*) ;; *) build=$root/$build ;; esac
fakeweb=$build/tools/fakeweb/fakeweb
lintbay=$build/src/lintbay
for program in "$fakeweb" "$lintbay"; do
  if [ ! -x "$program" ]; then
    echo "demo: $program is missing; run 'make build' first" >&2
    exit 1
  fi
done

tmp=$(mktemp -d "${TMPDIR:-/tmp}/lintbay-demo.XXXXXX")
fakeweb_pid=
cleanup() {
  if [ -n "$fakeweb_pid" ]; then
    kill "$fakeweb_pid" 2>/dev/null || true
    wait "$fakeweb_pid" 2>/dev/null || true
  fi
  rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

export XDG_CONFIG_HOME=$tmp/config XDG_DATA_HOME=$tmp/data XDG_CACHE_HOME=$tmp/cache
mkdir -p "$XDG_CONFIG_HOME/Lintbay" "$XDG_DATA_HOME" "$XDG_CACHE_HOME"

# fakeweb stores its address as the search engine (QSettings writes the Chinese section and key
# names in its own escaped form), then prints the address once it listens.
# After a few queries it answers with the engine's verification page, as the real engine does, so the
# demo shows the batch pausing for it and going on once it is solved in the embedded browser
# (LINTBAY_DEMO_VERIFY_AFTER=0 switches that off).
exec 3< <(exec "$fakeweb" --write-settings "$XDG_CONFIG_HOME/Lintbay/Lintbay.ini" \
  --verify-after "${LINTBAY_DEMO_VERIFY_AFTER:-6}")
fakeweb_pid=$!
address=
if ! read -r -t 20 address <&3 || [ -z "$address" ]; then
  echo "demo: the local search engine did not start" >&2
  exit 1
fi
exec 3<&-
echo "demo: local search engine at $address (settings in $tmp)"

# The embedded browser refuses to run as root unless its sandbox is off.
if [ "$(id -u)" = 0 ]; then
  export QTWEBENGINE_DISABLE_SANDBOX=1
fi

status=0
"$lintbay" "$@" || status=$?
exit "$status"
