#!/usr/bin/env bash
# cli_effects_bench.sh [BUILD_DIR] [SECONDS] [RUNS] - what the per-frame effects cost a
# conversion.
#
# Converts a 60 s title (authored by make_long_disc.sh) with dvdswf-cli, once plain and once
# with all four picture adjustments and two watermarks (text and picture), for Flash SWF
# (code 1) and H.264 MP4 (code 103), and prints the wall-clock ratio effects / plain for
# each (median of RUNS alternating pairs, 5 unless given). Targets: SWF <= 2.0,
# H.264 <= 1.25.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-$HERE/../build}" && pwd)
SECONDS_LONG=${2:-60}
RUNS=${3:-5}
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

# Wall-clock seconds of one conversion.
convert_once() {
    local start
    rm -rf "$WORK/out"
    start=$(date +%s.%N)
    "$CLI" convert "$DISC" --title 1 --out "$WORK/out" "$@" >/dev/null 2>"$WORK/stderr.txt" ||
        { cat "$WORK/stderr.txt" >&2; exit 1; }
    echo "$(date +%s.%N) - $start" | bc -l
}

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Plain and effects runs alternate (each pair in turn starting with the other), so a machine
# whose speed drifts during the bench favours neither; the ratio is the median of the pairs'.
for entry in "1:Flash SWF:2.0" "103:H.264 MP4:1.25"; do
    IFS=: read -r code name target <<<"$entry"
    ratios=() plains=() effectss=()
    for ((i = 0; i < RUNS; i++)); do
        if ((i % 2 == 0)); then
            plain=$(convert_once --format "$code")
            effects=$(convert_once --format "$code" "${EFFECTS[@]}")
        else
            effects=$(convert_once --format "$code" "${EFFECTS[@]}")
            plain=$(convert_once --format "$code")
        fi
        plains+=("$plain") effectss+=("$effects")
        ratios+=("$(echo "$effects / $plain" | bc -l)")
        printf '  %-12s run %d: plain %6.2f s  effects %6.2f s\n' "$name" $((i + 1)) "$plain" "$effects"
    done
    printf '%-12s plain %6.2f s  effects %6.2f s  median ratio %.2f (target <= %s)\n' "$name" \
        "$(printf '%s\n' "${plains[@]}" | median)" "$(printf '%s\n' "${effectss[@]}" | median)" \
        "$(printf '%s\n' "${ratios[@]}" | median)" "$target"
done
