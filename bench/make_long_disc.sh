#!/usr/bin/env bash
# make_long_disc.sh OUTDIR [SECONDS] [KIND] - author a one-title PAL DVD-Video folder for the
# benchmarks, SECONDS (default 60) long, chapters every 10 s:
#   KIND "testsrc" (default): OUTDIR/long_disc/VIDEO_TS, a moving test picture with a running
#       time code and a 440 Hz AC-3 tone (the conversion and playback benchmarks);
#   KIND "flash": OUTDIR/sync_disc/VIDEO_TS, black pictures with one white picture at every
#       whole second and silence with a 40 ms 1 kHz beep starting at every whole second
#       (the player's audio/video offset benchmark).
# Reuses the result when it is already there. Needs ffmpeg and dvdauthor.
set -euo pipefail
OUTDIR=${1:?usage: make_long_disc.sh OUTDIR [SECONDS] [testsrc|flash]}
SECONDS_LONG=${2:-60}
KIND=${3:-testsrc}
case "$KIND" in
    testsrc) DISC=$OUTDIR/long_disc ;;
    flash) DISC=$OUTDIR/sync_disc ;;
    *) echo "make_long_disc.sh: unknown kind '$KIND'" >&2; exit 1 ;;
esac
if [[ -f $DISC/VIDEO_TS/VIDEO_TS.IFO && -f $DISC/.seconds && $(cat "$DISC/.seconds") == "$SECONDS_LONG" ]]; then
    exit 0
fi
for tool in ffmpeg dvdauthor; do
    command -v "$tool" >/dev/null || { echo "make_long_disc.sh: '$tool' not found" >&2; exit 1; }
done
WORK=$OUTDIR/.work_$(basename "$DISC")
rm -rf "$WORK" "$DISC"
mkdir -p "$WORK"
FRAMES=$((SECONDS_LONG * 25))
FONT=/usr/share/fonts/truetype/dejavu/DejaVuSansMono-Bold.ttf
TEXT=""
[[ -r $FONT ]] && TEXT=",drawtext=fontfile=$FONT:fontsize=72:fontcolor=white:x=(w-tw)/2:y=h/2:text='%{pts\\:hms}'"

if [[ $KIND == flash ]]; then
    VIDEO_IN="color=c=black:s=720x576:r=25"
    AUDIO_IN="aevalsrc=exprs='if(lt(mod(t\,1)\,0.04)\,0.5*sin(2*PI*1000*t)\,0)':s=48000"
    TEXT=",drawbox=x=0:y=0:w=iw:h=ih:color=white:t=fill:enable='eq(mod(n\,25)\,0)'"
else
    VIDEO_IN="testsrc2=s=720x576:r=25"
    AUDIO_IN="sine=frequency=440:sample_rate=48000"
fi

# GOPs of 10 frames, so every 10 s chapter mark starts a GOP.
ffmpeg -hide_banner -nostdin -y -loglevel error \
    -f lavfi -i "$VIDEO_IN" \
    -f lavfi -i "$AUDIO_IN" \
    -filter_complex "[0:v]trim=end_frame=$FRAMES,format=yuv420p$TEXT[v];[1:a]atrim=end_sample=$((SECONDS_LONG * 48000))[a]" \
    -map '[v]' -map '[a]' \
    -c:v mpeg2video -aspect 4:3 -r 25 -g 10 -bf 0 -b:v 4000k -maxrate 8000k -bufsize 1835k \
    -c:a ac3 -b:a 192k -ac 2 -ar 48000 \
    -f dvd "$WORK/title.mpg"

chapters=0
for ((s = 10; s < SECONDS_LONG; s += 10)); do chapters+=",$s"; done
cat >"$WORK/dvdauthor.xml" <<XML
<dvdauthor dest="$WORK/disc">
 <vmgm/>
 <titleset>
  <titles>
   <video format="pal" aspect="4:3" resolution="720x576"/>
   <audio format="ac3" channels="2" samplerate="48khz" lang="en"/>
   <pgc>
    <vob file="$WORK/title.mpg" chapters="$chapters"/>
   </pgc>
  </titles>
 </titleset>
</dvdauthor>
XML
VIDEO_FORMAT=PAL dvdauthor -x "$WORK/dvdauthor.xml" >"$WORK/log.txt" 2>&1 ||
    { tail -n 20 "$WORK/log.txt" >&2; exit 1; }
mv "$WORK/disc" "$DISC"
echo "$SECONDS_LONG" >"$DISC/.seconds"
rm -rf "$WORK"
