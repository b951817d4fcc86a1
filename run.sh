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
if [ -x build/bin/dvdswf-cli ]; then
  exec build/bin/dvdswf-cli convert "$disc" --title 1 "$@"
fi
echo "The sample disc is authored at $disc (ISO: $disc.iso)."
echo "The command-line converter is not built yet; nothing was converted."
