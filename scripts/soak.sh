#!/usr/bin/env bash
# Runs the soak for SOAK_SECONDS (default 600) against the simulated module.
set -euo pipefail
build=${1:-build}
cmake --build "$build" --target nibp_soak nibp-sim >/dev/null
exec "$build/tests/soak/nibp_soak" "$build/sim/nibp-sim" "${SOAK_SECONDS:-600}"
