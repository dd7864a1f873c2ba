#!/usr/bin/env bash
# Starts the console; when the module simulator has been built, it answers on COM1 for as long
# as the console runs.
set -euo pipefail
build="${1:-build}"
app="$build/src/app/QUIRAB_NIBP"
sim="$build/sim/nibp-sim"

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "run: no DISPLAY to show the console on (use a desktop session, ssh -X, or xvfb-run)" >&2
  exit 1
fi
if [ ! -x "$app" ]; then
  echo "run: $app is missing; build first (make build)" >&2
  exit 1
fi

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

if [ -x "$sim" ]; then
  "$sim" --port COM1 &
  sim_pid=$!
  link="${XDG_CONFIG_HOME:-$HOME/.config}/quirab_nibp/ports/COM1"
  for _ in $(seq 50); do [ -e "$link" ] && break; sleep 0.1; done
  echo "run: the simulated module answers on COM1: press OPEN, then any command"
fi

"$app"
