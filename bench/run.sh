#!/usr/bin/env bash
# `make bench`: Release build, the six workloads (median of RUNS runs each: wall time, peak
# memory, input and output bytes, output checksum), xmllint --format beside workload 1, and the
# micro-benchmarks.
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD=${BUILD:-build-release}
RUNS=${RUNS:-3}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF > /dev/null
cmake --build "$BUILD" -j 2 > /dev/null

DATA="$BUILD/bench-data"
if [ ! -f "$DATA/.complete" ]; then
  echo "generating workloads in $DATA ..."
  "$BUILD/bench/bench_gen" "$DATA"
  touch "$DATA/.complete"
fi
XMLPP="$PWD/$BUILD/driver/xmlpp"
OUT="$BUILD/bench-out"
mkdir -p "$OUT"
TIMES=$(mktemp)
trap 'rm -f "$TIMES"' EXIT

median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

# row NAME INPUT_BYTES OUTPUT_FILE TIMES_FILE: prints one row of the table from the runs'
# "wall peak" lines.
row() {
  local name=$1 inBytes=$2 output=$3 times=$4
  local wall peak outBytes sum
  wall=$(awk '{ print $1 }' "$times" | median)
  peak=$(awk '{ print $2 }' "$times" | median)
  outBytes=$(stat -c %s "$output")
  sum=$(cksum < "$output" | awk '{ print $1 }')
  printf '%-22s %8.2f s %8.0f MB %12s %12s  %s\n' "$name" "$wall" "$((peak / 1024))" \
    "$inBytes" "$outBytes" "$sum"
  echo "$wall" > "$OUT/$name.wall"
}

# run NAME INPUT_BYTES OUTPUT_FILE COMMAND...: runs the command once to warm up, then RUNS
# times, and prints its row. On this machine the first touch of memory another process has just
# given back is slow, so a command run right after a different one pays for that one's footprint;
# the warm-up run takes that cost for each command alike.
run() {
  local name=$1 inBytes=$2 output=$3
  shift 3
  "$@" > /dev/null
  : > "$TIMES"
  for _ in $(seq "$RUNS"); do
    /usr/bin/time -f '%e %M' -a -o "$TIMES" "$@" > /dev/null
  done
  row "$name" "$inBytes" "$output" "$TIMES"
}

size() { stat -c %s "$1"; }

printf '%-22s %10s %11s %12s %12s  %s\n' workload wall peak 'in bytes' 'out bytes' cksum
run 1-plain "$(size "$DATA/1-plain.xml")" "$OUT/1.xml" "$XMLPP" "$DATA/1-plain.xml" "$OUT/1.xml"
if command -v xmllint > /dev/null; then
  run 1-plain-xmllint "$(size "$DATA/1-plain.xml")" "$OUT/1-xmllint.xml" \
    sh -c "exec xmllint --format '$DATA/1-plain.xml' > '$OUT/1-xmllint.xml'"
  awk -v a="$(cat "$OUT/1-plain-xmllint.wall")" -v b="$(cat "$OUT/1-plain.wall")" \
    'BEGIN { printf "%-22s %8.1fx faster than xmllint --format\n", "1-plain", a / b }'
fi
run 2-macros "$(size "$DATA/2-macros.xml")" "$OUT/2.xml" \
  "$XMLPP" "$DATA/2-macros.xml" "$OUT/2.xml" "$(cat "$DATA/2-macros.list")"
run 3-loops "$(size "$DATA/3-loops.xml")" "$OUT/3.xml" \
  "$XMLPP" "$DATA/3-loops.xml" "$OUT/3.xml"
run 4-ifex "$(size "$DATA/4-ifex.xml")" "$OUT/4.xml" \
  "$XMLPP" "$DATA/4-ifex.xml" "$OUT/4.xml"
awk -v t="$(cat "$OUT/4-ifex.wall")" \
  'BEGIN { printf "%-22s %8.0f conditions per second end to end\n", "4-ifex", 200000 / (t > 0 ? t : 0.01) }'
run 5-include "$(du -sb "$DATA/5-include" | awk '{ print $1 }')" "$OUT/5.xml" \
  sh -c "cd '$DATA' && exec '$XMLPP' 5-include.xml '$PWD/$OUT/5.xml'"
run 6-deep-if "$(size "$DATA/6-deep-if.xml")" "$OUT/6.xml" \
  "$XMLPP" "$DATA/6-deep-if.xml" "$OUT/6.xml" "A=1"

if [ -x "$BUILD/bench/micro_bench" ]; then
  echo
  "$BUILD/bench/micro_bench" --benchmark_min_time=0.2
fi
