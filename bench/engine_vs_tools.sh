#!/usr/bin/env bash
# Measures the download engine (bench_engine, no window) beside curl, aria2c and wget on the same
# files, served by nginx on 127.0.0.1 over HTTP/1.1 and over HTTPS with HTTP/2, and the download
# window shown offscreen over both (bench_window_transfers). Installs nginx, aria2, openssl and GNU
# time when missing (Debian). Prints Markdown tables of medians (wall time, CPU time, peak memory)
# over RUNS runs; the 300 small files run SMALL_RUNS times (default 1: each takes about 50 s).
# Usage: bench/engine_vs_tools.sh [build folder] [runs]
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
runs=${2:-3}
scale=${SCALE:-1} # divides the file sizes, for a quick trial run
small_runs=${SMALL_RUNS:-1}
engine=$build/bench/bench_engine
window=$build/bench/bench_window_transfers
for exe in "$engine" "$window"; do
  [ -x "$exe" ] || { echo "missing $exe; build first" >&2; exit 1; }
done

need=()
for p in nginx aria2 wget curl time openssl; do
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
tls_port=18443
mk() { # count size-MB prefix
  for i in $(seq 1 "$1"); do head -c "$(( $2 * 1024 * 1024 / scale ))" /dev/urandom > "$www/$3$i.bin"; done
}
mk 6 128 big; mk 6 16 mid; mk 1 512 huge
for i in $(seq 1 300); do head -c $(( 262144 / scale )) /dev/urandom > "$www/small$i.bin"; done

# A test authority and the server's certificate for 127.0.0.1, which both clients are told to trust.
(
  cd "$work"
  ec=(-newkey ec -pkeyopt ec_paramgen_curve:prime256v1 -nodes)
  openssl req -x509 "${ec[@]}" -keyout ca.key -out ca.pem -days 2 -subj "/CN=bench authority" \
    -addext basicConstraints=critical,CA:TRUE -addext keyUsage=critical,keyCertSign,cRLSign
  openssl req "${ec[@]}" -keyout server.key -out server.csr -subj /CN=127.0.0.1
  printf 'subjectAltName=IP:127.0.0.1\nbasicConstraints=CA:FALSE\n' > server.ext
  openssl x509 -req -in server.csr -CA ca.pem -CAkey ca.key -CAcreateserial -out server.pem -days 2 \
    -extfile server.ext
) >/dev/null 2>&1
cat > "$work/nginx.conf" <<CONF
daemon off; worker_processes 2; error_log $work/logs/error.log; pid $work/nginx.pid;
events { worker_connections 1024; }
http { access_log off; sendfile on; tcp_nopush on; keepalive_requests 10000;
  client_body_temp_path $work/tmp; proxy_temp_path $work/tmp; fastcgi_temp_path $work/tmp;
  uwsgi_temp_path $work/tmp; scgi_temp_path $work/tmp;
  server { listen 127.0.0.1:$port; root $www; }
  server { listen 127.0.0.1:$tls_port ssl http2; root $www;
    ssl_certificate $work/server.pem; ssl_certificate_key $work/server.key; } }
CONF
mkdir -p "$work/tmp"
nginx -c "$work/nginx.conf" -p "$work" &
nginx_pid=$!
sleep 1

urls() { for f in "$@"; do echo "http://127.0.0.1:$port/$f"; done; }
list() { local name=$1; shift; urls "$@" > "$work/$name.txt"; }
list big big{1..6}.bin
sed "s|^http://127.0.0.1:$port/|https://127.0.0.1:$tls_port/|" "$work/big.txt" > "$work/big-tls.txt"
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
# engine_run <list> <mode> <slots> [runs] [authority]: wall span cpu transfer-cpu peakMB failed/done
engine_run() {
  local spans=() cpus=() tcpus=() mems=() walls=() fails=0 dones=0
  for r in $(seq 1 "${4:-$runs}"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    read -r wall cpu mem done failed span tcpu < <("$engine" "$work/$1.txt" "$work/out" "$2" "$3" 0 ${5:+"$5"})
    walls+=("$wall"); spans+=("$span"); cpus+=("$cpu"); tcpus+=("$tcpu"); mems+=("$mem")
    fails=$((fails + failed)); dones=$((dones + done))
  done
  printf "%s %s %s %s %s %s/%s\n" "$(printf '%s\n' "${walls[@]}" | median)" "$(printf '%s\n' "${spans[@]}" | median)" \
    "$(printf '%s\n' "${cpus[@]}" | median)" "$(printf '%s\n' "${tcpus[@]}" | median)" \
    "$(printf '%s\n' "${mems[@]}" | median)" "$fails" "$dones"
}
# window_run <list> [authority]: span transfer-cpu longest-gap-ms paints-per-100ms shortest-repaint-ms failed/done
window_run() {
  local spans=() cpus=() gaps=() most=() shortest=() fails=0 dones=0
  for r in $(seq 1 "$runs"); do
    rm -rf "$work/out"; mkdir -p "$work/out"
    read -r span cpu gap m s done failed < <(QT_QPA_PLATFORM=offscreen "$window" "$work/$1.txt" "$work/out" ${2:+"$2"} 2>/dev/null)
    spans+=("$span"); cpus+=("$cpu"); gaps+=("$gap"); most+=("$m"); shortest+=("$s")
    fails=$((fails + failed)); dones=$((dones + done))
  done
  printf "%s %s %s %s %s %s/%s\n" "$(printf '%s\n' "${spans[@]}" | median)" "$(printf '%s\n' "${cpus[@]}" | median)" \
    "$(printf '%s\n' "${gaps[@]}" | sort -g | tail -1)" "$(printf '%s\n' "${most[@]}" | sort -g | tail -1)" \
    "$(printf '%s\n' "${shortest[@]}" | sort -g | head -1)" "$fails" "$dones"
}
curl_args() { # the -o/URL pairs of a list file
  while read -r u; do printf -- '-o %s %s ' "$work/out/$(basename "$u")" "$u"; done < "$work/$1.txt"
}
ratio() { awk -v a="$1" -v b="$2" 'BEGIN {printf "%.2f", a / b}'; }

row() { printf "| %s | %.2f | %.2f | %.1f |\n" "$1" "$2" "$3" "$4"; }
echo "Runs: $runs each (small files: $small_runs); nginx on 127.0.0.1; $(nproc) cores; $(date -u +%F)."
echo
echo "| case, tool | wall s | CPU s | peak MB |"
echo "|---|---:|---:|---:|"
declare -A span_of tcpu_of curl_wall curl_cpu
for set in big mid; do
  read -r w sp c tc m f < <(engine_run "$set" 2 6)
  span_of[$set]=$sp; tcpu_of[$set]=$tc
  row "6 × $( [ $set = big ] && echo 128 || echo 16 ) MB, Lintbay mode 2, 6 slots (start→last end ${sp} s, transfer CPU ${tc} s, failed/done $f)" "$w" "$c" "$m"
  # shellcheck disable=SC2046
  read -r w c m < <(timed curl -s --parallel --parallel-max 6 $(curl_args "$set"))
  curl_wall[$set]=$w; curl_cpu[$set]=$c
  row "6 × $set, curl --parallel --parallel-max 6" "$w" "$c" "$m"
  read -r w c m < <(timed aria2c -q -j6 -x1 --file-allocation=none --allow-overwrite=true -d "$work/out" -i "$work/$set.txt")
  row "6 × $set, aria2c -j6" "$w" "$c" "$m"
  read -r w c m < <(timed wget -q -P "$work/out" -i "$work/$set.txt")
  row "6 × $set, wget" "$w" "$c" "$m"
done
read -r w sp c tc m f < <(engine_run big-tls 2 6 "$runs" "$work/ca.pem")
span_of[tls]=$sp; tcpu_of[tls]=$tc
row "6 × 128 MB over HTTPS/HTTP/2, Lintbay mode 2, 6 slots (start→last end ${sp} s, transfer CPU ${tc} s, failed/done $f)" "$w" "$c" "$m"
# shellcheck disable=SC2046
read -r w c m < <(timed curl -s --http2 --cacert "$work/ca.pem" --parallel --parallel-max 6 $(curl_args big-tls))
curl_wall[tls]=$w; curl_cpu[tls]=$c
row "6 × 128 MB over HTTPS/HTTP/2, curl --http2 --parallel --parallel-max 6" "$w" "$c" "$m"
read -r w sp c tc m f < <(engine_run huge 1 1)
row "1 × 512 MB, Lintbay mode 1 (start→end ${sp} s, failed/done $f)" "$w" "$c" "$m"
read -r w c m < <(timed wget -q -P "$work/out" -i "$work/huge.txt")
row "1 × 512 MB, wget" "$w" "$c" "$m"
read -r w sp c tc m f < <(engine_run small 2 6 "$small_runs")
row "300 × 256 KB, Lintbay mode 2, 6 slots, interval 0 (failed/done $f; $(awk -v w="$w" 'BEGIN {printf "%.2f", 300 / w}') starts/s)" "$w" "$c" "$m"
# shellcheck disable=SC2046
read -r w c m < <(timed curl -s --parallel --parallel-max 6 $(curl_args small))
row "300 × 256 KB, curl --parallel --parallel-max 6" "$w" "$c" "$m"

echo
echo "Mode 2, 6 × 128 MB, against curl --parallel (Lintbay's span from the first start to the last end"
echo "against curl's wall time; Lintbay's CPU from the start of the downloads against curl's):"
echo
echo "| world | span / curl wall | CPU / curl CPU |"
echo "|---|---:|---:|"
echo "| HTTP/1.1, no window | $(ratio "${span_of[big]}" "${curl_wall[big]}") | $(ratio "${tcpu_of[big]}" "${curl_cpu[big]}") |"
echo "| HTTPS/HTTP/2, no window | $(ratio "${span_of[tls]}" "${curl_wall[tls]}") | $(ratio "${tcpu_of[tls]}" "${curl_cpu[tls]}") |"

echo
echo "The download window shown (offscreen), same files; longest loop gap, most paints of one row in"
echo "100 ms and shortest time between two paints of a row over all runs; CPU against the window-less"
echo "runner's transfer CPU above:"
echo
echo "| world | span s | CPU s | CPU / no window | span / curl wall | CPU / curl CPU | longest gap ms | paints per row per 100 ms | shortest repaint ms | failed/done |"
echo "|---|---:|---:|---:|---:|---:|---:|---:|---:|---|"
read -r sp c gap most short f < <(window_run big)
echo "| HTTP/1.1 | $sp | $c | $(ratio "$c" "${tcpu_of[big]}") | $(ratio "$sp" "${curl_wall[big]}") | $(ratio "$c" "${curl_cpu[big]}") | $gap | $most | $short | $f |"
read -r sp c gap most short f < <(window_run big-tls "$work/ca.pem")
echo "| HTTPS/HTTP/2 | $sp | $c | $(ratio "$c" "${tcpu_of[tls]}") | $(ratio "$sp" "${curl_wall[tls]}") | $(ratio "$c" "${curl_cpu[tls]}") | $gap | $most | $short | $f |"
