#!/usr/bin/env bash
# Throughput of parvex-service against nginx: each serves a 1 GiB file over loopback to curl,
# three downloads each, alternating. Prints MB/s of every run, the means and the ratio
# parvex/nginx (the goal is at least 0.5). A benchmark, not a test: run it by hand.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
size=$((1024 * 1024 * 1024))
runs=3

as_root=()
if [[ $(id -u) -ne 0 ]]; then
  as_root=(sudo)
fi

nginx_bin=$(command -v nginx || true)
[[ -z "$nginx_bin" && -x /usr/sbin/nginx ]] && nginx_bin=/usr/sbin/nginx
if [[ -z "$nginx_bin" ]]; then
  echo "service_bench: installing nginx"
  export DEBIAN_FRONTEND=noninteractive
  "${as_root[@]}" apt-get install -y -q nginx >/dev/null || {
    "${as_root[@]}" apt-get update -q >/dev/null
    "${as_root[@]}" apt-get install -y -q nginx >/dev/null
  }
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
fi

service_bin=$build/tools/service/parvex-service
if [[ ! -x "$service_bin" ]]; then
  if [[ ! -f "$build/build.ninja" ]]; then
    cmake -S "$repo" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
  fi
  cmake --build "$build" --target parvex-service
fi

work=$(mktemp -d "${TMPDIR:-/tmp}/parvex-service-bench.XXXXXX")
nginx_pid=""
service_pid=""
cleanup() {
  [[ -n "$service_pid" ]] && kill "$service_pid" 2>/dev/null && wait "$service_pid" 2>/dev/null
  [[ -n "$nginx_pid" ]] && kill "$nginx_pid" 2>/dev/null && wait "$nginx_pid" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

free_port() {
  python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# nginx: a 1 GiB file from disk (the page cache after the first read), its own configuration.
mkdir -p "$work/www" "$work/nginx"
head -c "$size" /dev/urandom >"$work/www/big.bin"
# nginx's workers run as an unprivileged user when started as root.
chmod 755 "$work" "$work/www"
chmod 644 "$work/www/big.bin"
nginx_port=$(free_port)
cat >"$work/nginx/nginx.conf" <<EOF
daemon off;
worker_processes 1;
pid $work/nginx/nginx.pid;
error_log $work/nginx/error.log;
events { worker_connections 64; }
http {
  access_log off;
  sendfile on;
  tcp_nopush on;
  client_body_temp_path $work/nginx/body;
  proxy_temp_path $work/nginx/proxy;
  fastcgi_temp_path $work/nginx/fastcgi;
  uwsgi_temp_path $work/nginx/uwsgi;
  scgi_temp_path $work/nginx/scgi;
  server {
    listen 127.0.0.1:$nginx_port;
    root $work/www;
  }
}
EOF
"$nginx_bin" -p "$work/nginx" -c "$work/nginx/nginx.conf" &
nginx_pid=$!

# parvex-service: one link whose only item is a 1 GiB file.
cat >"$work/scenario.json" <<EOF
{"links": [{"code": "bench", "item": {"name": "big.bin", "size": $size}}]}
EOF
"$service_bin" --scenario "$work/scenario.json" --port 0 >"$work/service.out" &
service_pid=$!
for _ in $(seq 100); do
  [[ -s "$work/service.out" ]] && break
  sleep 0.05
done
base=$(head -n 1 "$work/service.out")
token=$(curl -s -X POST --data 'password=' "$base/v2/delivery/auth/bench" |
  sed -n 's/.*"token":"\([^"]*\)".*/\1/p')
service_url="$base/v2/delivery/download/bench?token=$token"
nginx_url="http://127.0.0.1:$nginx_port/big.bin"

for _ in $(seq 100); do
  [[ $(curl -s -o /dev/null -w '%{http_code}' -r 0-0 "$nginx_url" || true) == 206 ]] && break
  sleep 0.05
done

speed() { # MB/s (10^6 bytes) of one download, checking its size
  local out
  out=$(curl -s -o /dev/null -w '%{speed_download} %{size_download} %{http_code}' "$1")
  read -r bps bytes code <<<"$out"
  if [[ "$code" != 200 || "$bytes" != "$size" ]]; then
    echo "service_bench: $1 answered $code with $bytes bytes" >&2
    exit 1
  fi
  awk -v b="$bps" 'BEGIN { printf "%.1f", b / 1e6 }'
}

# A first read of each puts the nginx file in the page cache and warms both.
curl -s -o /dev/null "$nginx_url"
curl -s -o /dev/null -r 0-67108863 "$service_url"

parvex_total=0
nginx_total=0
for run in $(seq "$runs"); do
  n=$(speed "$nginx_url")
  p=$(speed "$service_url")
  echo "run $run: nginx $n MB/s, parvex-service $p MB/s"
  nginx_total=$(awk -v a="$nginx_total" -v b="$n" 'BEGIN { print a + b }')
  parvex_total=$(awk -v a="$parvex_total" -v b="$p" 'BEGIN { print a + b }')
done
awk -v p="$parvex_total" -v n="$nginx_total" -v r="$runs" 'BEGIN {
  printf "mean: nginx %.1f MB/s, parvex-service %.1f MB/s, ratio parvex/nginx %.2f\n",
         n / r, p / r, p / n
}'
