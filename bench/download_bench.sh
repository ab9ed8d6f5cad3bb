#!/usr/bin/env bash
# Downloads with the engine (parvex-engine-fetch) against aria2c, both in the same run, over
# HTTPS on loopback:
#   1. one 1 GiB file from parvex-service, and from nginx when it can be installed:
#      throughput (MiB/s), CPU seconds (user + sys) per GiB and peak RSS;
#   2. a link folder of 2,000 files of 64 KiB from parvex-service: files per second;
#   3. crash loss, with nginx: the 1 GiB file served at 20 MiB/s per connection, the download
#      killed with SIGKILL 2 s after its start and then resumed to completion (the engine with
#      --resume on the same data folder, aria2c with -c): the MiB nginx sent twice, that is
#      the body bytes its access log counts for both runs less the file's size.
# Every run starts from an empty folder and its bytes are checked afterwards. A benchmark
# reports figures and ratios engine/aria2c (medians of BENCH_ROUNDS runs each, default 3); it
# passes or fails nothing. Expects a build in build/ (or $BUILD_DIR) and builds nothing;
# installs aria2, nginx and time when missing.
# BENCH_CASES picks cases by name, separated by spaces or commas: service (1 GiB from
# parvex-service), nginx (1 GiB from nginx), many (the 2,000 files) and kill (crash loss);
# all of them by default.
set -euo pipefail

repo=$(cd "$(dirname "$0")/.." && pwd)
build=${BUILD_DIR:-$repo/build}
big_size=$((1024 * 1024 * 1024))
file_count=2000
file_size=65536
all_cases="service nginx many kill"
cases=" ${BENCH_CASES:-$all_cases} "
cases=${cases//,/ }
for name in $cases; do
  [[ " $all_cases " == *" $name "* ]] ||
    { echo "download_bench: unknown case \"$name\" in BENCH_CASES ($all_cases)" >&2; exit 1; }
done
wanted() { [[ $cases == *" $1 "* ]]; }

as_root=()
[[ $(id -u) -ne 0 ]] && as_root=(sudo)

apt_install() { # package: true when it is installed afterwards
  export DEBIAN_FRONTEND=noninteractive
  echo "download_bench: installing $1"
  "${as_root[@]}" apt-get install -y -q "$1" >/dev/null 2>&1 ||
    { "${as_root[@]}" apt-get update -q >/dev/null 2>&1 &&
      "${as_root[@]}" apt-get install -y -q "$1" >/dev/null 2>&1; }
}

need() { echo "download_bench: $1 is needed" >&2; exit 1; }
[[ -x /usr/bin/time ]] || apt_install time || need /usr/bin/time
command -v aria2c >/dev/null || apt_install aria2 || need aria2c
nginx_bin=$(command -v nginx || true)
[[ -z "$nginx_bin" && -x /usr/sbin/nginx ]] && nginx_bin=/usr/sbin/nginx
if [[ -z "$nginx_bin" ]] && apt_install nginx; then
  nginx_bin=$(command -v nginx || echo /usr/sbin/nginx)
fi
if [[ -z "$nginx_bin" || ! -x "$nginx_bin" ]]; then
  echo "download_bench: nginx could not be installed; its cases are left out"
  nginx_bin=""
fi

find_binary() { # name, folder below tools/: the built program's path
  local found=$build/tools/$2/$1
  [[ -x "$found" ]] || found=$(find "$build" -type f -name "$1" -perm -u+x 2>/dev/null | head -n 1)
  if [[ -z "$found" ]]; then
    echo "download_bench: $1 is not built in $build (run make build first)" >&2
    exit 1
  fi
  echo "$found"
}
service_bin=$(find_binary parvex-service service)
fetch_bin=$(find_binary parvex-engine-fetch fetch)

work=$(mktemp -d "${TMPDIR:-/tmp}/parvex-download-bench.XXXXXX")
servers=() # process ids
victim="" # the download the crash-loss case is about to kill
cleanup() {
  local pid
  for pid in $victim "${servers[@]}"; do
    kill "$pid" 2>/dev/null && wait "$pid" 2>/dev/null
  done
  rm -rf "$work"
}
trap cleanup EXIT INT TERM

# parvex-service over TLS: a link sharing the big file and one sharing the folder of many.
cat >"$work/scenario.json" <<EOF
{"links": [
  {"code": "bigfile", "item": {"name": "big.bin", "size": $big_size}},
  {"code": "manyfiles", "item": {"name": "many",
    "generate": {"count": $file_count, "size": $file_size, "prefix": "f", "extension": ".bin"}}}
]}
EOF
"$service_bin" --scenario "$work/scenario.json" --tls >"$work/service.out" &
servers+=($!)
for _ in $(seq 200); do
  [[ -s "$work/service.out" ]] && break
  sleep 0.05
done
read -r service_base service_ca <"$work/service.out" ||
  { echo "download_bench: parvex-service did not start" >&2; exit 1; }

list_link() { # code: "URL<tab>path" lines of the link's files
  "$fetch_bin" --data-dir "$work/list-data" --link "$service_base" "$1" --print-urls \
    --ca-file "$service_ca"
}
list_link bigfile >"$work/big.urls"
list_link manyfiles >"$work/many.urls"
big_url=$(cut -f 1 "$work/big.urls")
# aria2c's input file: each URL followed by its local path.
awk -F '\t' '{ printf "%s\n  out=%s\n", $1, $2 }' "$work/many.urls" >"$work/many.aria2"

# The reference copy of the big file, which nginx serves too; hashes of a few small files.
mkdir -p "$work/www"
curl -sf --cacert "$service_ca" -o "$work/www/big.bin" "$big_url"
checked_files=(f0000.bin f0999.bin f1999.bin)
for name in "${checked_files[@]}"; do
  url=$(grep -F "/$name?" "$work/many.urls" | cut -f 1)
  echo "$(curl -sf --cacert "$service_ca" "$url" | sha256sum | cut -d ' ' -f 1)  many/$name"
done >"$work/many.sha256"

if [[ -n "$nginx_bin" ]]; then
  openssl req -x509 -newkey rsa:2048 -nodes -days 1 -subj "/CN=127.0.0.1" \
    -addext "subjectAltName=IP:127.0.0.1" -keyout "$work/nginx.key" -out "$work/nginx.pem" \
    >/dev/null 2>&1
  free_port() {
    python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0))
print(s.getsockname()[1])'
  }
  nginx_port=$(free_port)
  kill_port=$(free_port)
  mkdir -p "$work/nginx"
  # Started as root, nginx's workers read the file as an unprivileged user.
  chmod 755 "$work" "$work/www"
  chmod 644 "$work/www/big.bin"
  # nginx's own temporary folders default to system paths that a user may not write.
  temp_paths=$(for kind in client_body proxy fastcgi uwsgi scgi; do
    echo "${kind}_temp_path $work/nginx/$kind;"
  done)
  cat >"$work/nginx/nginx.conf" <<EOF
events { worker_connections 256; }
http {
  access_log off;
  sendfile on;
  $temp_paths
  server {
    listen 127.0.0.1:$nginx_port ssl;
    ssl_certificate $work/nginx.pem;
    ssl_certificate_key $work/nginx.key;
    root $work/www;
  }
  # The crash-loss case's server: the rate per connection keeps a download unfinished when it
  # is killed, and its log tags each request's body bytes with the run named in the query.
  log_format crash '\$arg_run \$uri \$status \$body_bytes_sent';
  server {
    listen 127.0.0.1:$kill_port ssl;
    ssl_certificate $work/nginx.pem;
    ssl_certificate_key $work/nginx.key;
    root $work/www;
    limit_rate 20m;
    access_log $work/nginx/kill.log crash;
    location = /connections {
      stub_status;
      access_log off;
    }
  }
}
EOF
  "$nginx_bin" -p "$work/nginx" -e "$work/nginx/error.log" -c "$work/nginx/nginx.conf" \
    -g "daemon off; worker_processes 2; pid $work/nginx/nginx.pid;" &
  servers+=($!)
  nginx_url="https://127.0.0.1:$nginx_port/big.bin"
  kill_url="https://127.0.0.1:$kill_port/big.bin"
  for _ in $(seq 200); do
    curl -sf --cacert "$work/nginx.pem" -r 0-0 -o /dev/null "$nginx_url" && break
    sleep 0.05
  done
fi

# One measured run in an empty folder: `measure NAME CHECK COMMAND...`. The command's {dir}
# arguments name that folder; CHECK then verifies the bytes in it. Sets wall, cpu and rss_mib.
measure() {
  local name=$1 check=$2
  shift 2
  local dir="$work/run" args=() arg
  rm -rf "$dir" "$work/data"
  mkdir -p "$dir"
  for arg in "$@"; do args+=("${arg//\{dir\}/$dir}"); done
  if ! /usr/bin/time -f '%e %U %S %M' -o "$work/time.txt" "${args[@]}" >"$work/run.log" 2>&1; then
    echo "download_bench: $name failed:" >&2
    tail -n 5 "$work/run.log" >&2
    exit 1
  fi
  "$check" "$dir" || { echo "download_bench: $name wrote wrong bytes" >&2; exit 1; }
  local user sys rss
  read -r wall user sys rss < <(tail -n 1 "$work/time.txt")
  cpu=$(awk -v u="$user" -v s="$sys" 'BEGIN { printf "%.2f", u + s }')
  rss_mib=$((rss / 1024))
  rm -rf "$dir" "$work/data"
}

check_big() { cmp -s "$1/big.bin" "$work/www/big.bin"; }
check_many() {
  [[ $(find "$1/many" -type f | wc -l) -eq $file_count ]] &&
    [[ $(find "$1/many" -type f -printf '%s\n' | awk '{ t += $1 } END { print t }') -eq \
       $((file_count * file_size)) ]] &&
    (cd "$1" && sha256sum --quiet -c "$work/many.sha256")
}

rows=()
ratios=()
per_second() { awk -v w="$wall" -v n="$1" 'BEGIN { printf "%.1f", n / w }'; }
report() { # case, tool, figure, unit: prints the last measure and keeps it for the table
  rows+=("$(printf '%-24s %-7s %9.1f %-8s %8.2f %8s %8d' "$1" "$2" "$3" "$4" "$wall" "$cpu" "$rss_mib")")
  echo "$1: $2 $3 $4, $cpu CPU s, peak RSS $rss_mib MiB"
}
compare() { # case, engine figure, aria2c figure, unit[, remark]
  local value
  value=$(awk -v a="$2" -v b="$3" 'BEGIN { printf "%.2f", (b > 0 ? a / b : 0) }')
  ratios+=("$1: engine/aria2c $value ($4${5:+, $5})")
  echo "$1: ratio engine/aria2c $value${5:+ ($5)}"
}

big_mib=$((big_size / 1048576))
rounds=${BENCH_ROUNDS:-3}
median() { sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# Runs `STEP TOOL ROUND` for the engine and aria2c in turn, `rounds` times each. The order
# alternates: a first run pays for page-cache memory the machine never touched, and the shared
# machine's load drifts.
alternating() {
  local step=$1 round tool order
  for ((round = 0; round < rounds; round++)); do
    order=(engine aria2c)
    ((round % 2 == 1)) && order=(aria2c engine)
    for tool in "${order[@]}"; do
      "$step" "$tool" "$round"
    done
  done
}

# One measured run of pair_case (whose locals it fills).
pair_step() {
  local tool=$1
  if [[ $tool == engine ]]; then
    measure "$name engine" "$check" "${engine_cmd[@]}"
  else
    measure "$name aria2c" "$check" "${aria_cmd[@]}"
  fi
  walls[$tool]+="$wall "
  cpus[$tool]+="$cpu "
  rsses[$tool]+="$rss_mib "
}

# Runs the engine and aria2c in turn, `rounds` times each, and reports each tool's medians.
# The order alternates: a first run pays for page-cache memory the machine never touched, and
# the shared machine's load drifts. `pair_case NAME UNIT COUNT CHECK ENGINE_CMD ARIA_CMD`, the
# last two naming arrays.
pair_case() {
  local name=$1 unit=$2 count=$3 check=$4
  local -n engine_cmd=$5 aria_cmd=$6
  local -A walls=() cpus=() rsses=()
  local tool figure engine_figure
  alternating pair_step
  for tool in engine aria2c; do
    wall=$(tr ' ' '\n' <<<"${walls[$tool]}" | grep . | median)
    cpu=$(tr ' ' '\n' <<<"${cpus[$tool]}" | grep . | median)
    rss_mib=$(tr ' ' '\n' <<<"${rsses[$tool]}" | grep . | median)
    figure=$(per_second "$count")
    report "$name" "$tool" "$figure" "$unit"
    [[ $tool == engine ]] && engine_figure=$figure
  done
  compare "$name" "$engine_figure" "$figure" "$unit"
}

aria_big=(aria2c -x10 -s10 -k1M --file-allocation=falloc -q)

big_case() { # case, CA file, URL for aria2c, then the engine's request arguments
  local name=$1 ca=$2 url=$3
  shift 3
  # shellcheck disable=SC2034 # passed to pair_case by name
  local big_engine=("$fetch_bin" --data-dir "$work/data" "$@" --ca-file "$ca" --quiet)
  # shellcheck disable=SC2034
  local big_aria=("${aria_big[@]}" --ca-certificate="$ca" -d "{dir}" -o big.bin "$url")
  pair_case "$name" MiB/s "$big_mib" check_big big_engine big_aria
}

# Waits until nginx holds no connection but the asking one: a request is logged before its
# connection closes, so a killed download's requests are all counted then.
nginx_idle() {
  local active
  for _ in $(seq 200); do
    active=$(curl -sf --cacert "$work/nginx.pem" "https://127.0.0.1:$kill_port/connections" |
      awk '/^Active connections:/ { print $3 }')
    [[ $active == 1 ]] && return 0
    sleep 0.05
  done
  return 1
}

# One download killed 2 s after its start, then resumed to completion: `crash_run TOOL RUN`,
# RUN tagging its requests in nginx's log. Sets refetched_mib, the MiB nginx sent for the
# file beyond its size over both runs, and wall, the seconds of both.
crash_run() {
  local tool=$1 run=$2
  local url="$kill_url?run=$run" dir="$work/run" data="$work/kill-data"
  local tls=(--ca-file "$work/nginx.pem" --quiet) first second status start bytes
  rm -rf "$dir" "$data"
  mkdir -p "$dir"
  if [[ $tool == engine ]]; then
    first=("$fetch_bin" --data-dir "$data" --url "$url" --to "$dir/big.bin" "${tls[@]}")
    second=("$fetch_bin" --data-dir "$data" --resume "${tls[@]}")
  else
    # aria2c keeps its control file next to the download from the start; -c resumes from it.
    first=("${aria_big[@]}" --ca-certificate="$work/nginx.pem" -d "$dir" -o big.bin "$url")
    second=("${first[@]}" -c)
  fi
  start=$(date +%s.%N)
  "${first[@]}" >"$work/run.log" 2>&1 &
  victim=$!
  sleep 2 # the measured time before the crash
  kill -KILL "$victim" 2>/dev/null || true
  status=0
  wait "$victim" 2>/dev/null || status=$?
  victim=""
  if ((status != 128 + 9)); then
    echo "download_bench: crash loss $tool ended with status $status before it was killed:" >&2
    tail -n 5 "$work/run.log" >&2
    exit 1
  fi
  if ! "${second[@]}" >"$work/run.log" 2>&1; then
    echo "download_bench: crash loss $tool failed to resume:" >&2
    tail -n 5 "$work/run.log" >&2
    exit 1
  fi
  wall=$(awk -v s="$start" -v e="$(date +%s.%N)" 'BEGIN { printf "%.2f", e - s }')
  check_big "$dir" || { echo "download_bench: crash loss $tool wrote wrong bytes" >&2; exit 1; }
  nginx_idle || { echo "download_bench: nginx kept connections open" >&2; exit 1; }
  bytes=$(awk -v run="$run" '$1 == run && $2 == "/big.bin" { t += $4 } END { printf "%d", t }' \
    "$work/nginx/kill.log")
  if ((bytes < big_size)); then
    echo "download_bench: nginx logged $bytes bytes for crash loss $tool, less than the file" >&2
    exit 1
  fi
  refetched_mib=$(awk -v b="$bytes" -v s="$big_size" 'BEGIN { printf "%.1f", (b - s) / 1048576 }')
  rm -rf "$dir" "$data"
}

# One killed and resumed download of kill_case (whose locals it fills).
kill_step() {
  crash_run "$1" "$1-$2"
  losses[$1]+="$refetched_mib "
  walls[$1]+="$wall "
}

# The crash-loss case, in alternating order like pair_case; reports each tool's median MiB
# sent twice and the median seconds of its two runs.
kill_case() {
  local name="1 GiB crash loss, nginx"
  local -A losses=() walls=()
  local tool figure engine_figure
  alternating kill_step
  for tool in engine aria2c; do
    figure=$(tr ' ' '\n' <<<"${losses[$tool]}" | grep . | median)
    wall=$(tr ' ' '\n' <<<"${walls[$tool]}" | grep . | median)
    rows+=("$(printf '%-24s %-7s %9.1f %-8s %8.2f %8s %8s' "$name" "$tool" "$figure" \
      "MiB 2x" "$wall" - -)")
    echo "$name: $tool $figure MiB fetched twice"
    [[ $tool == engine ]] && engine_figure=$figure
  done
  compare "$name" "$engine_figure" "$figure" "MiB fetched twice" "lower is better"
}

# The file is 1 GiB, so its CPU seconds are the CPU seconds per GiB.
if wanted service; then
  big_case "1 GiB, parvex-service" "$service_ca" "$big_url" --link "$service_base" bigfile \
    --to "{dir}"
fi
if [[ -n "$nginx_bin" ]] && wanted nginx; then
  big_case "1 GiB, nginx" "$work/nginx.pem" "$nginx_url" --url "$nginx_url" --to "{dir}/big.bin"
fi
if [[ -n "$nginx_bin" ]] && wanted kill; then
  kill_case
fi

if wanted many; then
  # shellcheck disable=SC2034 # passed to pair_case by name
  many_engine=("$fetch_bin" --data-dir "$work/data" --link "$service_base" manyfiles
    --to "{dir}" --ca-file "$service_ca" --quiet)
  # shellcheck disable=SC2034
  many_aria=(aria2c -j10 -x1 -q --ca-certificate="$service_ca" -d "{dir}" -i "$work/many.aria2")
  pair_case "2,000 x 64 KiB, link" files/s "$file_count" check_many many_engine many_aria
fi

echo
printf '%-24s %-7s %9s %-8s %8s %8s %8s\n' case tool figure unit "wall s" "CPU s" "RSS MiB"
printf '%s\n' "${rows[@]}"
printf '%s\n' "${ratios[@]}"
