#!/usr/bin/env bash
# The GNU parallel recipe of docs/rendering-at-scale.md, as the page gives
# it, on a short play list in 3 parts at once: the parts' frames are the
# whole render's, and the joined video has the whole render's length,
# frames, chapters and sound.
# Usage: segment_recipe_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
export PATH="$build/bin:$PATH"

# Two tracks with tags (chapters), a few seconds of beats.
ffmpeg -v error -f lavfi -i "aevalsrc='0.6*sin(2*PI*(60+40*mod(t,1))*t)*lt(mod(t,0.5),0.1)':s=44100:d=2.5" \
  -ac 2 -metadata title=One -metadata artist=Tester music-1.flac
ffmpeg -v error -f lavfi -i "aevalsrc='0.5*sin(2*PI*(100+50*mod(t,0.7))*t)*lt(mod(t,0.4),0.15)':s=44100:d=2" \
  -ac 2 -metadata title=Two -metadata artist=Tester music-2.flac
mkdir music && mv music-*.flac music/

# The recipe: the block after the marker, its settings given here instead.
awk '/scripts\/test runs this block/ { on = 1; next } on && /^```sh/ { inside = 1; next }
     inside && /^```/ { exit } inside' "$src/docs/rendering-at-scale.md" | grep -v '^[A-Z]*=' >recipe.sh
grep -q '^parallel ' recipe.sh && grep -q 'lumenvortex --join' recipe.sh || { echo "no recipe found" >&2; exit 1; }
export N=3 MUSIC=music OPTS="--size 320x180 --fps 30 --frames frames-{}"
bash -eu recipe.sh >recipe.log 2>&1 || { cat recipe.log >&2; exit 1; }

lumenvortex --size 320x180 --fps 30 --frames whole-frames --render whole.mp4 music >/dev/null 2>&1

fail() { echo "FAIL: $*" >&2; exit 1; }
# Frames: every part's PNGs are the whole render's, and together all of them.
total=$(ls whole-frames | grep -c '^frame-')
[ "$total" -eq 135 ] || fail "the whole render has $total frames, not 135"
count=0
for k in 1 2 3; do
  for f in frames-$k/frame-*.png; do
    cmp -s "$f" "whole-frames/$(basename "$f")" || fail "$f is not the whole render's"
    count=$((count + 1))
  done
done
[ "$count" -eq "$total" ] || fail "the parts drew $count frames of $total"
# The joined video against the whole render's.
probe() { ffprobe -v error -count_frames -show_entries "$2" -of default=nw=1 "$1"; }
for what in stream=codec_type,nb_read_frames format=duration chapter=start,end:chapter_tags=title \
            format_tags=title,artist; do
  [ "$(probe mix.mp4 $what)" = "$(probe whole.mp4 $what)" ] ||
    fail "$what: $(probe mix.mp4 $what | tr '\n' ' ') against $(probe whole.mp4 $what | tr '\n' ' ')"
done
# The sound: the same music, within what a second AAC encoding changes.
snr=$(python3 - <<'PY'
import array, math, subprocess
def pcm(f):
    return array.array('f', subprocess.run(['ffmpeg', '-v', 'error', '-i', f, '-f', 'f32le', '-ac', '2', '-'],
                                           capture_output=True, check=True).stdout)
a, b = pcm('whole.mp4'), pcm('mix.mp4')
if len(a) != len(b): print(-1); raise SystemExit
err = sum((x - y) ** 2 for x, y in zip(a, b)); sig = sum(x * x for x in a)
print(int(10 * math.log10(sig / max(err, 1e-20))))
PY
)
[ "$snr" -gt 30 ] || fail "the joined sound is $snr dB from the whole render's (or of another length)"
echo "the recipe's 3 parts give the whole render (sound $snr dB)"
