#!/usr/bin/env bash
# Pictures of the console and its About box under a virtual X server:
# BUILD/screenshots/console.png, about.png and ports.png; then, after a measurement on the simulator,
# console-measured.png, pressure-chart.png and results.png.
set -euo pipefail
build="${1:-build}"
tool="$build/tests/qt/nibp_screenshot"
out="$build/screenshots"
if [ ! -x "$tool" ]; then
  echo "screenshot: $tool is missing; build first (make build)" >&2
  exit 1
fi
mkdir -p "$out"
if command -v xvfb-run >/dev/null 2>&1; then
  xvfb-run -a -s "-screen 0 1280x1024x24" "$tool" "$out"
else
  echo "screenshot: xvfb-run not found, drawing offscreen instead" >&2
  QT_QPA_PLATFORM=offscreen "$tool" "$out"
fi
