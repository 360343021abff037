#!/usr/bin/env bash
# Measures the download engine (bench_engine) beside curl, aria2c and wget on the same files,
# served by nginx on 127.0.0.1. Installs nginx, aria2 and GNU time when missing (Debian).
# Prints Markdown tables of medians (wall time, CPU time, peak memory) over RUNS runs.
# Usage: bench/engine_vs_tools.sh [build folder] [runs]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
scale=${SCALE:-1} # divides the file sizes, for a quick trial run
engine=$build/bench/bench_engine
[ -x "$engine" ] || { echo "missing $engine; build first" >&2; exit 1; }

need=()
for p in nginx aria2 wget curl time; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || need+=("$p")
done
if [ ${#need[@]} -gt 0 ]; then
  sudo=""; [ "$(id -u)" -ne 0 ] && sudo=sudo
  $sudo apt-get update -qq && DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq "${need[@]}" >/dev/null
fi

work=$(mktemp -d /tmp/lintbay-bench.XXXXXX)
chmod 755 "$work" # nginx's workers read the files as another user
nginx_pid=
cleanup() { [ -n "$nginx_pid" ] && kill "$nginx_pid" 2>/dev/null; [ -n "${KEEP:-}" ] || rm -rf "$work"; }
trap cleanup EXIT
www=$work/www; mkdir -p "$www" "$work/logs"
port=18089
mk() { # count size-MB prefix
  for i in $(seq 1 "$1"); do head -c "$(( $2 * 1024 * 1024 / scale ))" /dev/urandom > "$www/$3$i.bin"; done
}
mk 6 128 big; mk 6 16 mid; mk 1 512 huge
for i in $(seq 1 300); do head -c $(( 262144 / scale )) /dev/urandom > "$www/small$i.bin"; done

cat > "$work/nginx.conf" <<CONF
daemon off; worker_processes 2; error_log $work/logs/error.log; pid $work/nginx.pid;
events { worker_connections 1024; }
http { access_log off; sendfile on; tcp_nopush on; keepalive_requests 10000;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$port; root $www; } }
CONF
mkdir -p "$work/tmp"
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
sleep 1

urls() { for f in "$@"; do echo "http://127.0.0.1:$port/$f"; done; }
list() { local name=$1; shift; urls "$@" > "$work/$name.txt"; }
list big big{1..6}.bin
list mid mid{1..6}.bin
list huge huge1.bin
list small $(for i in $(seq 1 300); do echo "small$i.bin"; done)

median() { sort -g | awk '{a[NR]=$1} END {print a[int((NR+1)/2)]}'; }
# time_tool <label> <command...>: prints "wall cpu peakMB" medians
timed() {
  local out=$work/out; local walls=() cpus=() mems=()
  for r in $(seq 1 "$runs"); do
    rm -rf "$out"; mkdir -p "$out"
    /usr/bin/time -f "%e %U %S %M" -o "$work/t" "$@" >/dev/null 2>&1
    read -r e u s m < "$work/t"
    walls+=("$e"); cpus+=("$(awk -v a="$u" -v b="$s" 'BEGIN {print a + b}')"); mems+=("$(awk -v k="$m" 'BEGIN {print k / 1024}')")
  done
  printf "%s %s %s\n" "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${cpus[@]}" | median)" \
    "$(printf '%s\n' "${mems[@]}" | median)"
}
# The engine reports its own figures; the span is from the first start to the last completion.
engine_run() {
  local spans=() cpus=() mems=() walls=() fails=0 dones=0
  for r in $(seq 1 "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    read -r wall cpu mem done failed span < <("$engine" "$work/$1.txt" "$work/out" "$2" "$3" 0)
    walls+=("$wall"); spans+=("$span"); cpus+=("$cpu"); mems+=("$mem"); fails=$((fails + failed)); dones=$((dones + done))
  done
  printf "%s %s %s %s %s/%s\n" "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${spans[@]}" | median)" \
    "$(printf '%s\n' "${cpus[@]}" | median)" "$(printf '%s\n' "${mems[@]}" | median)" "$fails" "$dones"
}

row() { printf "| %s | %.2f | %.2f | %.1f |\n" "$1" "$2" "$3" "$4"; }
echo "Runs: $runs each; nginx on 127.0.0.1; $(nproc) cores; $(date -u +%F)."
echo
echo "| case, tool | wall s | CPU s | peak MB |"
echo "|---|---:|---:|---:|"
for set in big mid; do
  read -r w sp c m f < <(engine_run "$set" 2 6)
  row "6 × $( [ $set = big ] && echo 128 || echo 16 ) MB, Lintbay mode 2, 6 slots (start→last end ${sp} s, failed/done $f)" "$w" "$c" "$m"
  read -r w c m < <(timed curl -s --parallel --parallel-max 6 $(while read -r u; do printf -- '-o %s %s ' "$work/out/$(basename "$u")" "$u"; done < "$work/$set.txt"))
  row "6 × $set, curl --parallel --parallel-max 6" "$w" "$c" "$m"
  read -r w c m < <(timed aria2c -q -j6 -x1 --file-allocation=none --allow-overwrite=true -d "$work/out" -i "$work/$set.txt")
  row "6 × $set, aria2c -j6" "$w" "$c" "$m"
  read -r w c m < <(timed wget -q -P "$work/out" -i "$work/$set.txt")
  row "6 × $set, wget" "$w" "$c" "$m"
done
read -r w sp c m f < <(engine_run huge 1 1)
row "1 × 512 MB, Lintbay mode 1 (start→end ${sp} s, failed/done $f)" "$w" "$c" "$m"
read -r w c m < <(timed wget -q -P "$work/out" -i "$work/huge.txt")
row "1 × 512 MB, wget" "$w" "$c" "$m"
read -r w sp c m f < <(engine_run small 2 6)
row "300 × 256 KB, Lintbay mode 2, 6 slots, interval 0 (failed/done $f; $(awk -v w="$w" 'BEGIN {printf "%.2f", 300 / w}') starts/s)" "$w" "$c" "$m"
