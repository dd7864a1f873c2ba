#!/usr/bin/env bash
# Runs every benchmark and prints one table of figures. Each program prints its own rows
# ("| figure | value | target | measured over |"); full outputs go to BUILD/bench-logs/.
# A program that fails, hangs or is not built gets a row saying so; the others still run.
set -uo pipefail
build=${1:-build}
logs="$build/bench-logs"
limit=${BENCH_TIMEOUT:-1200}  # seconds per program
mkdir -p "$logs"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}
# The consoles measured record their sessions here, not among the user's.
XDG_STATE_HOME="$(cd "$build" && pwd)/bench-state"
export XDG_STATE_HOME

rows=()
run() {  # name, command...
  local name=$1; shift
  local log="$logs/$name.log"
  if [ ! -x "$1" ]; then
    echo "bench: $name not built, skipped" >&2
    rows+=("| $name | not built | | |")
    return
  fi
  echo "bench: $name ..." >&2
  local start=$SECONDS status=0
  timeout --kill-after=10 "$limit" "$@" >"$log" 2>&1 || status=$?
  local found=0
  while IFS= read -r line; do rows+=("$line"); found=$((found + 1)); done < <(grep '^| ' "$log")
  local took=$((SECONDS - start))
  if [ "$status" -eq 124 ] || [ "$status" -eq 137 ]; then
    echo "bench: $name timed out after ${limit}s (see $log)" >&2
    rows+=("| $name | timed out | | after ${limit} s, see $log |")
  elif [ "$status" -ne 0 ]; then
    echo "bench: $name failed with status $status after ${took}s (see $log)" >&2
    rows+=("| $name | failed (status $status) | | see $log |")
  elif [ "$found" -eq 0 ]; then
    echo "bench: $name printed no figures (see $log)" >&2
    rows+=("| $name | no figures | | see $log |")
  else
    echo "bench: $name done in ${took}s" >&2
  fi
}

run receive "$build/bench/bench_receive" --table
run logview "$build/bench/bench_logview"
run session "$build/bench/bench_session" 20
run latency "$build/bench/bench_latency" 300
run latency-4hz "$build/bench/bench_latency" 80 4
run stream-190 "$build/bench/bench_stream" stream "$build/sim/nibp-sim" 190 20
run burst "$build/bench/bench_stream" burst "$build/sim/nibp-sim" 50000
run startup "$build/bench/bench_cpu" startup
run idle "$build/bench/bench_cpu" idle "$build/sim/nibp-sim" 30
run polling "$build/bench/bench_cpu" polling "$build/sim/nibp-sim" 30
run stream-cpu "$build/bench/bench_cpu" stream "$build/sim/nibp-sim" 30
run lost "$build/bench/bench_cpu" lost "$build/sim/nibp-sim" 30
run flood "$build/bench/bench_cpu" flood "$build/sim/nibp-sim" 50000
run views "$build/bench/bench_views" 20
run cli "$build/bench/bench_cli" "$build/src/cli/nibp-cli" "$build/sim/nibp-sim" 20 50
run checks "$build/bench/bench_checks" 24
run cli-checks "$build/bench/bench_cli_checks" "$build/src/cli/nibp-cli" "$build/sim/nibp-sim" 16 20

# One table, its columns padded to a common width so that it reads in a terminal too.
echo
{
  echo "| figure | value | target | measured over |"
  echo "|---|---|---|---|"
  printf '%s\n' "${rows[@]}"
} | awk -F'|' '
  {
    n[NR] = NF - 2
    for (i = 2; i < NF; i++) {
      c = $i; gsub(/^ +| +$/, "", c); cell[NR, i] = c
      if (w[i] < 3) w[i] = 3
      if (NR != 2 && length(c) > w[i]) w[i] = length(c)
    }
  }
  END {
    for (r = 1; r <= NR; r++) {
      line = "|"
      for (i = 2; i < n[r] + 2; i++) {
        c = cell[r, i]
        if (r == 2) { c = ""; while (length(c) < w[i]) c = c "-" }
        line = line sprintf(" %-" w[i] "s |", c)
      }
      print line
    }
  }'
