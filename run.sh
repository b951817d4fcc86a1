#!/usr/bin/env bash
# Installs what is missing, builds and authors the sample disc; then opens it in the desktop
# program when a display is available, or converts its first title on the command line.
set -euo pipefail
cd "$(dirname "$0")"
source tools/deps.sh
ensure_packages "${DVDSWF_PACKAGES[@]}"

cmake -S . -B build -G Ninja >/dev/null
cmake --build build

disc="$PWD/build/fixtures/disc_a"
if [ ! -d "$disc/VIDEO_TS" ]; then
  echo "The sample disc was not authored ($disc); see tests/fixtures/make_disc.sh." >&2
  exit 1
fi
# On a desktop (DISPLAY or WAYLAND_DISPLAY set) and without arguments: the desktop program
# with the sample disc listed.
if [ $# -eq 0 ] && { [ -n "${DISPLAY:-}" ] || [ -n "${WAYLAND_DISPLAY:-}" ]; }; then
  exec build/bin/dvdswf "$disc"
fi
# Otherwise: title 1 with the stored output format (Flash SWF on a fresh machine) into the
# stored output folder ($HOME/videoconverter by default); the program prints the output path.
# Arguments go to the converter (--format 103, --out DIR, ...).
exec build/bin/dvdswf-cli convert "$disc" --title 1 "$@"
