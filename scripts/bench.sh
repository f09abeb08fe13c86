#!/bin/bash
# Speed and quality of the encoder beside Debian's ffmpeg on one 720x576 clip.
#
# Makes a moving test clip with ffmpeg (testsrc2, 4:2:0, 25 frames/s) as a .y4m, encodes it at a
# constant quantiser with every speed profile (fast, normal, best) and with ffmpeg's MPEG-2
# encoder (one thread, the same GOP length and B count), and prints frames per second, the
# stream size and the luma and overall PSNR of each against the source.
#
# Our quantiser is a quantiser_scale_code of the non-linear table, whose codes 1..8 are step
# sizes 1..8; ffmpeg's -qscale:v N is the linear step 2N. So ffmpeg runs twice: at the same
# number N and at N/2, the same step size.
#
#   bash scripts/bench.sh [frames [cq [gop [bframes]]]]     (defaults 100 4 12 2)
#   SOURCE=mandelbrot bash scripts/bench.sh                  (any ffmpeg lavfi video source)
# Needs a build in build/ (cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo).
set -euo pipefail
frames=${1:-100}
cq=${2:-4}
gop=${3:-12}
bf=${4:-2}
root=$(cd "$(dirname "$0")/.." && pwd)
bin=$root/build/bin
[ -x "$bin/ostrel" ] || { echo "build the tree first: no $bin/ostrel" >&2; exit 1; }
work=$(mktemp -d /tmp/ostrelbench.XXXXXX)
trap 'rm -rf "$work"' EXIT
cp "$bin/ostrel" "$bin"/*.dll "$work/"
cd "$work"

source=${SOURCE:-testsrc2}
ffmpeg -nostdin -v error -f lavfi -i "$source=size=720x576:rate=25" -frames:v "$frames" \
  -pix_fmt yuv420p clip.y4m
echo 'Y4MSource("clip.y4m")' > clip.avs

now() { date +%s.%N; }
# psnr <stream>: "luma overall" average PSNR against the source, in dB.
psnr() {
  ffmpeg -nostdin -i "$1" -i clip.y4m -lavfi "[0:v]setpts=N/TB[a];[1:v]setpts=N/TB[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.* y:\([0-9.inf]*\) .* average:\([0-9.inf]*\) .*/\1 \2/p' | tail -1
}
row() {  # name seconds stream
  local fps size p
  fps=$(echo "$frames / $2" | bc -l)
  size=$(stat -c %s "$3")
  p=$(psnr "$3")
  printf '%-34s %8.1f fps %10d bytes  PSNR Y %6s dB, YUV %6s dB\n' "$1" "$fps" "$size" \
    ${p% *} ${p#* }
}

echo "clip: $source 720x576, $frames frames, constant quantiser $cq, GOP $gop with $bf B pictures"
for profile in fast normal best; do
  t0=$(now)
  OSTREL_HEADLESS=1 OSTREL_TIMESCALE=0 ./ostrel -i clip.avs -o "$profile.m2v" -cq "$cq" \
    -gop "$gop" "$bf" -profile "$profile" -log "$profile.log" >/dev/null 2>&1
  t1=$(now)
  ffmpeg -nostdin -v error -xerror -err_detect explode -i "$profile.m2v" -f null - ||
    echo "  $profile: the stream does not decode cleanly" >&2
  row "ostrel -profile $profile" "$(echo "$t1 - $t0" | bc -l)" "$profile.m2v"
done
for q in "$cq" $((cq / 2 > 0 ? cq / 2 : 1)); do
  t0=$(now)
  ffmpeg -nostdin -v error -y -i clip.y4m -c:v mpeg2video -qscale:v "$q" -g "$gop" -bf "$bf" \
    -threads 1 "ffmpeg$q.m2v"
  t1=$(now)
  row "ffmpeg mpeg2video -qscale:v $q" "$(echo "$t1 - $t0" | bc -l)" "ffmpeg$q.m2v"
done
