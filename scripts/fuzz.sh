#!/usr/bin/env bash
# Runs the receive-path fuzz target over a copy of the committed seed corpus.
# Usage: scripts/fuzz.sh BUILD_DIR SECONDS. Fails when the fuzzer finds a crash or a broken invariant.
set -euo pipefail
build=${1:?build directory}
seconds=${2:-60}
root=$(cd "$(dirname "$0")/.." && pwd)
target="$build/fuzz/fuzz_receive"
[ -x "$target" ] || { echo "fuzz.sh: $target not built" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp -r "$root/fuzz/corpus/receive/." "$work/"
artifacts="$root/fuzz/artifacts"
mkdir -p "$artifacts"

echo "fuzz_receive: ${seconds}s over $(ls "$work" | wc -l) seed files; findings go to $artifacts/"
"$target" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
  -artifact_prefix="$artifacts/" "$work"
