#!/usr/bin/env bash
# Runs every benchmark and prints one table of figures. Each program prints its own rows
# ("| figure | value | target | measured over |"); full outputs go to BUILD/bench-logs/.
set -uo pipefail
build=${1:-build}
logs="$build/bench-logs"
mkdir -p "$logs"
export QT_QPA_PLATFORM=${QT_QPA_PLATFORM:-offscreen}

rows=()
run() {  # name, command...
  local name=$1; shift
  [ -x "$1" ] || { echo "bench: $name not built, skipped" >&2; return; }
  echo "bench: running $name ..." >&2
  if "$@" >"$logs/$name.log" 2>&1; then :; else echo "bench: $name failed (see $logs/$name.log)" >&2; fi
  while IFS= read -r line; do rows+=("$line"); done < <(grep '^| ' "$logs/$name.log")
}

run receive "$build/bench/bench_receive" --table
run logview "$build/bench/bench_logview"
run latency "$build/bench/bench_latency" 300
run startup "$build/bench/bench_cpu" startup
run idle "$build/bench/bench_cpu" idle "$build/sim/nibp-sim" 30
run polling "$build/bench/bench_cpu" polling "$build/sim/nibp-sim" 30

echo
echo "| figure | value | target | measured over |"
echo "|---|---|---|---|"
printf '%s\n' "${rows[@]}"
