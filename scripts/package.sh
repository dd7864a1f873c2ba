#!/usr/bin/env bash
# Builds the Debian package from a built tree and checks it with lintian (errors fail).
# With --check, also unpacks it into a temporary folder and runs each program's --version there.
set -euo pipefail
build="${1:-build}"
check=0
[ "${2:-}" = "--check" ] && check=1

(cd "$build" && cpack -G DEB >/dev/null) || { echo "package: cpack failed" >&2; exit 1; }
version="$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/CMakeCache.txt")"
deb="$build/quirab-nibp_${version}_$(dpkg --print-architecture).deb"
[ -f "$deb" ] || { echo "package: $deb was not made" >&2; exit 1; }
echo "package: $deb"
dpkg-deb --info "$deb" | sed -n 's/^ \(Depends\|Installed-Size\):/package:   \1:/p'
lintian --fail-on error "$deb"

[ "$check" -eq 1 ] || exit 0
root="$(mktemp -d)"
trap 'rm -rf "$root"' EXIT
dpkg -x "$deb" "$root"
echo "package: contents"
(cd "$root" && find . -type f | sort | sed 's/^\./package:   /')
for program in QUIRAB_NIBP nibp-sim nibp-cli; do
  exe="$root/usr/bin/$program"
  if [ ! -e "$exe" ]; then
    echo "package: $program is missing" >&2
    exit 1
  fi
  out="$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM "$exe" --version)"
  [ "$out" = "$program$([ "$program" = QUIRAB_NIBP ] || echo ' (QUIRAB_NIBP)') $version" ] ||
    { echo "package: $program --version said: $out" >&2; exit 1; }
  echo "package: $out"
done
