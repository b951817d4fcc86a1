#!/usr/bin/env bash
# cli_effects_bench.sh [BUILD_DIR] [SECONDS] - what the per-frame effects cost a conversion.
#
# Converts a 60 s title (authored by make_long_disc.sh) with dvdswf-cli, once plain and once
# with all four picture adjustments and two watermarks (text and picture), for Flash SWF
# (code 1) and H.264 MP4 (code 103), and prints the wall-clock ratio effects / plain for
# each. Targets: SWF <= 2.0, H.264 <= 1.25. Each timing is the best of three runs.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-$HERE/../build}" && pwd)
SECONDS_LONG=${2:-60}
CLI=$BUILD/bin/dvdswf-cli
[[ -x $CLI ]] || { echo "cli_effects_bench.sh: $CLI is not built" >&2; exit 1; }
WORK=$BUILD/bench-tmp/cli_effects
mkdir -p "$WORK"
"$HERE/make_long_disc.sh" "$BUILD/bench-tmp" "$SECONDS_LONG"
DISC=$BUILD/bench-tmp/long_disc

export DVDSWF_CONFIG_DIR=$WORK/config
ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i "testsrc=s=160x120" \
    -frames:v 1 -pix_fmt bgr24 "$WORK/mark.bmp"
EFFECTS=(--brightness 300 --contrast 20 --saturation 320 --exposure 40
    --text-watermark "dvdswf bench@40,40,200"
    --image-watermark "$WORK/mark.bmp@500,400,180")

# Best wall-clock seconds of three conversions.
best_of_three() {
    local best="" t start
    for _ in 1 2 3; do
        rm -rf "$WORK/out"
        start=$(date +%s.%N)
        "$CLI" convert "$DISC" --title 1 --out "$WORK/out" "$@" >/dev/null 2>"$WORK/stderr.txt" ||
            { cat "$WORK/stderr.txt" >&2; exit 1; }
        t=$(echo "$(date +%s.%N) - $start" | bc -l)
        if [[ -z $best ]] || (( $(echo "$t < $best" | bc -l) )); then best=$t; fi
    done
    echo "$best"
}

for entry in "1:Flash SWF:2.0" "103:H.264 MP4:1.25"; do
    IFS=: read -r code name target <<<"$entry"
    plain=$(best_of_three --format "$code")
    effects=$(best_of_three --format "$code" "${EFFECTS[@]}")
    ratio=$(echo "$effects / $plain" | bc -l)
    printf '%-12s plain %6.2f s  effects %6.2f s  ratio %.2f (target <= %s)\n' \
        "$name" "$plain" "$effects" "$ratio" "$target"
done
