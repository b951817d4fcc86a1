#!/usr/bin/env bash
# make_many_titles.sh N OUTDIR [SECONDS]
# Authors OUTDIR/VIDEO_TS: one PAL title set holding N titles (N <= 99), each a copy of
# the same short clip (SECONDS long, default 0.4), like the decoy titles of some commercial
# discs (dvdauthor stores the clip once; every title points at the same cells). Used by the DVD tests and the scan benchmark.
set -euo pipefail
n=$1
out=$2
seconds=${3:-0.4}
[[ $n -ge 1 && $n -le 99 ]] || { echo "make_many_titles.sh: N must be 1..99" >&2; exit 1; }
mkdir -p "$out"
work=$(mktemp -d "$out/.work.XXXXXX")
trap 'rm -rf "$work"' EXIT
ffmpeg -hide_banner -nostdin -loglevel error -y \
  -f lavfi -i "testsrc=size=720x576:rate=25:duration=$seconds" \
  -f lavfi -i "sine=frequency=440:sample_rate=48000:duration=$seconds" \
  -target pal-dvd -aspect 4:3 -ac 2 -g 5 -flags +cgop -sc_threshold 1000000000 "$work/clip.mpg"
{
  echo '<dvdauthor>'
  echo '  <vmgm />'
  echo '  <titleset>'
  echo '    <titles>'
  echo '      <video format="pal" aspect="4:3" />'
  echo '      <audio lang="en" />'
  for ((i = 1; i <= n; i++)); do
    echo "      <pgc><vob file=\"$work/clip.mpg\" chapters=\"0\" /></pgc>"
  done
  echo '    </titles>'
  echo '  </titleset>'
  echo '</dvdauthor>'
} >"$work/disc.xml"
rm -rf "$out/VIDEO_TS" "$out/AUDIO_TS"
VIDEO_FORMAT=PAL dvdauthor -o "$out" -x "$work/disc.xml" >"$work/log.txt" 2>&1 ||
  { cat "$work/log.txt" >&2; exit 1; }
