#!/usr/bin/env bash
# cli_effects_bench.sh [BUILD_DIR] [SECONDS] [RUNS] - what a conversion with dvdswf-cli costs
# against Debian's ffmpeg, and what the per-picture effects cost a conversion.
#
# Converts a 60 s title (authored by make_long_disc.sh) with dvdswf-cli and prints, each as
# the median of RUNS (5 unless given) alternating pairs measured in this one run:
#   FLV1 320x240 + MP3 (code 0) / Debian's ffmpeg on the title's VOB at the same settings:
#       wall time (target <= 0.85) and peak resident size (target <= 1.10);
#   Flash SWF (code 1) with all four picture adjustments and two watermarks (text and
#       picture) / plain (target <= 1.50);
#   H.264 MP4 (code 103) with the same effects / plain (target <= 1.05).
# Needs /usr/bin/time (Debian's package "time") for the peak resident sizes.
set -euo pipefail
HERE=$(cd "$(dirname "$0")" && pwd)
BUILD=$(cd "${1:-$HERE/../build}" && pwd)
SECONDS_LONG=${2:-60}
RUNS=${3:-5}
CLI=$BUILD/bin/dvdswf-cli
[[ -x $CLI ]] || { echo "cli_effects_bench.sh: $CLI is not built" >&2; exit 1; }
[[ -x /usr/bin/time ]] || { echo "cli_effects_bench.sh: /usr/bin/time is missing (apt-get install time)" >&2; exit 1; }
WORK=$BUILD/bench-tmp/cli_effects
mkdir -p "$WORK"
"$HERE/make_long_disc.sh" "$BUILD/bench-tmp" "$SECONDS_LONG"
DISC=$BUILD/bench-tmp/long_disc
VOB=$DISC/VIDEO_TS/VTS_01_1.VOB

export DVDSWF_CONFIG_DIR=$WORK/config
ffmpeg -hide_banner -nostdin -loglevel error -y -f lavfi -i "testsrc=s=160x120" \
    -frames:v 1 -pix_fmt bgr24 "$WORK/mark.bmp"
EFFECTS=(--brightness 300 --contrast 20 --saturation 320 --exposure 40
    --text-watermark "dvdswf bench@40,40,200"
    --image-watermark "$WORK/mark.bmp@500,400,180")
# The catalogue's FLV defaults, spelled out for ffmpeg.
FFMPEG_FLV=(-s 320x240 -c:v flv -b:v 500k -c:a libmp3lame -ar 44100 -b:a 128k -ac 2)

# "SECONDS PEAK_KIB" of one command (its output thrown away).
measure() {
    /usr/bin/time -f '%e %M' -o "$WORK/time.txt" "$@" >/dev/null 2>"$WORK/stderr.txt" ||
        { cat "$WORK/stderr.txt" >&2; exit 1; }
    cat "$WORK/time.txt"
}
convert_once() {
    rm -rf "$WORK/out"
    measure "$CLI" convert "$DISC" --title 1 --out "$WORK/out" "$@"
}
peer_once() { measure ffmpeg -hide_banner -nostdin -loglevel error -y -i "$VOB" "${FFMPEG_FLV[@]}" "$WORK/peer.flv"; }

median() { sort -g | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

# Each pair runs in turn one way round and the other, so a machine whose speed drifts during
# the bench favours neither side; a ratio is the median of the pairs' ratios.
# pairs NAME A-COMMAND B-COMMAND: prints each pair and sets TIME_RATIO, MEMORY_RATIO.
pairs() {
    local name=$1 a=$2 b=$3 ra rb times=() memories=()
    for ((i = 0; i < RUNS; i++)); do
        if ((i % 2 == 0)); then
            ra=$($a) rb=$($b)
        else
            rb=$($b) ra=$($a)
        fi
        read -r ta ma <<<"$ra"
        read -r tb mb <<<"$rb"
        times+=("$(echo "$ta / $tb" | bc -l)") memories+=("$(echo "$ma / $mb" | bc -l)")
        printf '  %-24s run %d: %6.2f s %7d KiB  /  %6.2f s %7d KiB\n' "$name" $((i + 1)) \
            "$ta" "$ma" "$tb" "$mb"
    done
    TIME_RATIO=$(printf '%s\n' "${times[@]}" | median)
    MEMORY_RATIO=$(printf '%s\n' "${memories[@]}" | median)
}

flv_ours() { convert_once --format 0; }
swf_plain() { convert_once --format 1; }
swf_effects() { convert_once --format 1 "${EFFECTS[@]}"; }
h264_plain() { convert_once --format 103; }
h264_effects() { convert_once --format 103 "${EFFECTS[@]}"; }

pairs "FLV cli / ffmpeg" flv_ours peer_once
printf '%-40s %.2f (target <= 0.85)\n' "FLV1 320x240+MP3 time, cli / ffmpeg" "$TIME_RATIO"
printf '%-40s %.2f (target <= 1.10)\n' "FLV1 320x240+MP3 peak RSS, cli / ffmpeg" "$MEMORY_RATIO"
pairs "SWF effects / plain" swf_effects swf_plain
printf '%-40s %.2f (target <= 1.50)\n' "Flash SWF time, effects / plain" "$TIME_RATIO"
pairs "H.264 effects / plain" h264_effects h264_plain
printf '%-40s %.2f (target <= 1.05)\n' "H.264 MP4 time, effects / plain" "$TIME_RATIO"
