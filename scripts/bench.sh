#!/bin/bash
# Speed and quality of the encoder beside Debian's ffmpeg on one 720x576 clip, with one thread
# and with every core.
#
# Makes a moving test clip with ffmpeg (testsrc2, 4:2:0, 25 frames/s) as a .y4m, then encodes it
#   - in one pass at a constant quantiser with every speed profile (fast, normal, best),
#   - in two passes at an average bitrate (normal profile),
# each with one coding thread (OSTREL_THREADS=1) and with all cores; and with ffmpeg's MPEG-2
# encoder (the same GOP length and B count) at the same quantiser and at an average bitrate in
# two passes, each with -threads 1 and with all cores. It prints frames per second, the speed-up
# of all cores over one thread, the stream size and the luma and overall PSNR against the source.
# The machine's load before and after is printed too: figures taken on a busy machine say little.
# The clip is long by default: a run's start-up (the frame server loading its libraries, about a
# tenth of a second) is the same at any thread count, and a film's encode does not see it.
#
# Our quantiser is a quantiser_scale_code of the non-linear table, whose codes 1..8 are step
# sizes 1..8; ffmpeg's -qscale:v N is the linear step 2N. So ffmpeg runs twice: at the same
# number N and at N/2, the same step size.
#
#   bash scripts/bench.sh [frames [cq [gop [bframes]]]]     (defaults 1500 4 12 2)
#   SOURCE=mandelbrot bash scripts/bench.sh                  (any ffmpeg lavfi video source)
#   BITRATE=6000 bash scripts/bench.sh                       (two-pass average, kbit/s)
# Needs a build in build/ (cmake -S . -B build -DCMAKE_BUILD_TYPE=RelWithDebInfo).
set -euo pipefail
frames=${1:-1500}
cq=${2:-4}
gop=${3:-12}
bf=${4:-2}
bitrate=${BITRATE:-6000}
maxrate=9800
cores=$(nproc)
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
load() { cut -d' ' -f1-3 /proc/loadavg; }
# psnr <stream>: "luma overall" average PSNR against the source, in dB.
psnr() {
  ffmpeg -nostdin -i "$1" -i clip.y4m -lavfi "[0:v]setpts=N/TB[a];[1:v]setpts=N/TB[b];[a][b]psnr" -f null - 2>&1 |
    sed -n 's/.* y:\([0-9.inf]*\) .* average:\([0-9.inf]*\) .*/\1 \2/p' | tail -1
}
declare -A one  # frames per second of each encoder at one thread, by name
row() {  # name threads seconds stream
  local fps size p gain=""
  fps=$(echo "$frames / $3" | bc -l)
  size=$(stat -c %s "$4")
  p=$(psnr "$4")
  if [ "$2" = 1 ]; then one[$1]=$fps; else gain=$(printf '(%.1fx)' "$(echo "$fps / ${one[$1]}" | bc -l)"); fi
  printf '%-40s %2d thr %8.1f fps %-7s %10d bytes  PSNR Y %6s dB, YUV %6s dB\n' "$1" "$2" "$fps" \
    "$gain" "$size" ${p% *} ${p#* }
}
clean() {
  ffmpeg -nostdin -v error -xerror -err_detect explode -i "$1" -f null - ||
    echo "  $1: the stream does not decode cleanly" >&2
}
ostrel() {  # name threads stream args...
  local name=$1 t=$2 out=$3 t0 t1
  shift 3
  t0=$(now)
  OSTREL_THREADS=$t OSTREL_HEADLESS=1 OSTREL_TIMESCALE=0 ./ostrel -i clip.avs -o "$out" \
    -log "${out%.m2v}.log" "$@" >/dev/null 2>&1
  t1=$(now)
  clean "$out"
  row "$name" "$t" "$(echo "$t1 - $t0" | bc -l)" "$out"
}
ffmpeg2() {  # name threads stream args... (two passes)
  local name=$1 t=$2 out=$3 t0 t1
  shift 3
  t0=$(now)
  ffmpeg -nostdin -v error -y -i clip.y4m -c:v mpeg2video "$@" -threads "$t" -pass 1 \
    -passlogfile "pass$t" -f null /dev/null
  ffmpeg -nostdin -v error -y -i clip.y4m -c:v mpeg2video "$@" -threads "$t" -pass 2 \
    -passlogfile "pass$t" "$out"
  t1=$(now)
  row "$name" "$t" "$(echo "$t1 - $t0" | bc -l)" "$out"
}

echo "clip: $source 720x576, $frames frames, GOP $gop with $bf B pictures; one pass at constant"
echo "quantiser $cq, two passes at $bitrate kbit/s (maximum $maxrate); $cores cores, load $(load)"
for profile in fast normal best; do
  for t in 1 "$cores"; do
    ostrel "ostrel one pass -profile $profile" "$t" "$profile$t.m2v" -cq "$cq" -gop "$gop" "$bf" \
      -profile "$profile"
  done
done
for t in 1 "$cores"; do
  ostrel "ostrel two passes -profile normal" "$t" "twopass$t.m2v" -b "$bitrate" \
    -maxbitrate "$maxrate" -gop "$gop" "$bf" -profile normal
done
for q in "$cq" $((cq / 2 > 0 ? cq / 2 : 1)); do
  for t in 1 "$cores"; do
    t0=$(now)
    ffmpeg -nostdin -v error -y -i clip.y4m -c:v mpeg2video -qscale:v "$q" -g "$gop" -bf "$bf" \
      -threads "$t" "ffmpeg$q-$t.m2v"
    t1=$(now)
    row "ffmpeg mpeg2video -qscale:v $q" "$t" "$(echo "$t1 - $t0" | bc -l)" "ffmpeg$q-$t.m2v"
  done
done
for t in 1 "$cores"; do
  ffmpeg2 "ffmpeg mpeg2video two passes" "$t" "ffmpeg2p-$t.m2v" -b:v "${bitrate}k" \
    -maxrate "${maxrate}k" -bufsize 1835k -g "$gop" -bf "$bf"
done
echo "load after: $(load)"
