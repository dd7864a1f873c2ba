#!/usr/bin/env bash
# Starts the console; when the module simulator has been built, it answers on the first port
# the user has not mapped (COM1 normally) for as long as the console runs.
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

# The folder the console and the simulator both read: $XDG_CONFIG_HOME only when absolute.
config="${XDG_CONFIG_HOME:-}"
[[ "$config" == /* ]] || config="$HOME/.config"
ports="$config/quirab_nibp/ports"

# The simulator replaces the link of its port and removes it when it ends, so it must not get a
# port the user has mapped to a device. Only a link to a vanished pty (a simulator that was
# killed) is free to take; a link to a missing adapter is still the user's.
free_port() {
  local n entry
  for n in $(seq 1 10); do
    entry="$ports/COM$n"
    if [ ! -e "$entry" ] && [ ! -L "$entry" ]; then echo "COM$n"; return 0; fi
    if [ -L "$entry" ] && [ ! -e "$entry" ] && [[ "$(readlink "$entry")" == /dev/pts/* ]]; then
      echo "COM$n"
      return 0
    fi
  done
  return 1
}

sim_pid=""
stop_sim() {
  if [ -n "$sim_pid" ]; then
    kill "$sim_pid" 2>/dev/null || true
    wait "$sim_pid" 2>/dev/null || true
  fi
}
trap stop_sim EXIT

if [ -x "$sim" ]; then
  if ! port="$(free_port)"; then
    echo "run: COM1 to COM10 are all mapped in $ports; the console starts without the simulated module" >&2
  else
    # Its running commentary would flood the terminal while the poll runs: it goes to a file.
    sim_log="$build/nibp-sim.log"
    # SIM_ARGS: further options of the simulator, split at blanks (make run SIM_ARGS="--speed 10").
    read -r -a sim_args <<<"${SIM_ARGS:-}"
    "$sim" --port "$port" "${sim_args[@]}" >"$sim_log" 2>&1 &
    sim_pid=$!
    link="$ports/$port"
    for _ in $(seq 100); do
      [ -e "$link" ] && break
      kill -0 "$sim_pid" 2>/dev/null || break
      sleep 0.1
    done
    if [ -e "$link" ]; then
      if [ "$port" = COM1 ]; then
        echo "run: the simulated module answers on COM1: press OPEN, then any command (its log: $sim_log)"
      else
        echo "run: COM1 is mapped in $ports, so the simulated module answers on $port:" \
          "choose $port, press OPEN, then any command"
      fi
    else
      echo "run: the simulated module did not start (see $sim_log); the console starts without it" >&2
      stop_sim
      sim_pid=""
    fi
  fi
fi

"$app"
