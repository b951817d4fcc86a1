#!/usr/bin/env bash
# Installs what is missing, builds, authors the sample disc and converts its first title
# with the stored output format.
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
# Title 1 with the stored output format (Flash SWF on a fresh machine) into the stored
# output folder ($HOME/videoconverter by default); the program prints the output path.
# Further arguments go to the converter (--format 103, --out DIR, ...).
exec build/bin/dvdswf-cli convert "$disc" --title 1 "$@"
