#!/usr/bin/env bash
# Whole-process comparison: stillwick-cli making a 5 × 5 sheet of a long
# 1080p H.264 movie, against 25 separate `ffmpeg -ss T -i movie -frames:v 1`
# calls run two at a time, the usual way to get exact frames from the
# command line. Both are timed in the same run, several rounds, alternating;
# then both sets of frames are checked against the frame each moment must
# show.
#
# Usage: bench/compare-ffmpeg.sh
# Environment: PRESET (default: default), BUILD_DIR (default: build/$PRESET),
#   WORK_DIR (default: $BUILD_DIR/compare-ffmpeg), MOVIE_SECONDS (600),
#   ROUNDS (3), MOVIE (use this movie instead of making one; the frame check
#   then needs a movie made by make-test-movie with --index-patch at 25 fps).
#
# ffmpeg's command-line tool is needed for the baseline only; the script
# installs it (and GNU time) with apt-get when it runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=${WORK_DIR:-$build/compare-ffmpeg}
seconds=${MOVIE_SECONDS:-600}
rounds=${ROUNDS:-3}
moments=25

need() { # command package
    command -v "$1" >/dev/null 2>&1 && return
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends "$2" >/dev/null
    else
        echo "compare-ffmpeg: needs $1 (apt-get install $2)" >&2
        exit 1
    fi
}
need ffmpeg ffmpeg
need ffprobe ffmpeg
[ -x /usr/bin/time ] || need /usr/bin/time time

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target stillwick-cli make-test-movie media-bench >/dev/null
cli=$build/cli/stillwick-cli
maker=$build/tests/support/make-test-movie
bench=$build/bench/capture/media-bench

mkdir -p "$work/cli" "$work/frames"
movie=$(realpath -m "${MOVIE:-$work/movie-1080p-${seconds}s.mp4}")
if [ ! -f "$movie" ]; then
    echo "Making $movie (1920x1080, ${seconds} s, H.264, key frame every 250, 3 B-frames) ..."
    "$maker" --size 1920x1080 --seconds "$seconds" --gop 250 --bframes 3 --noise 12 \
        --index-patch --preset superfast "$movie.part"
    mv "$movie.part" "$movie"
fi

# The moments a 5 × 5 sheet shows: i · (duration / 26), in 100-ns units.
duration=$("$bench" duration "$movie")
step=$((duration / (moments + 1)))
: >"$work/moments.txt"
for i in $(seq 1 $moments); do
    pos=$((i * step))
    printf '%d.%07d\n' $((pos / 10000000)) $((pos % 10000000)) >>"$work/moments.txt"
done

run_ffmpeg() {
    rm -f "$work"/frames/*.png
    xargs -P 2 -I{} ffmpeg -nostdin -v error -ss {} -i "$movie" -frames:v 1 -y \
        "$work/frames/{}.png" <"$work/moments.txt"
}
run_cli() {
    # A folder of its own, so the default settings file applies.
    (cd "$work/cli" && "$cli" -y -q -o out.jpg "$movie")
}
export -f run_ffmpeg run_cli
export movie work cli

cat "$movie" >/dev/null # both start from the page cache
rm -f "$work/ffmpeg.times" "$work/cli.times"
for r in $(seq 1 "$rounds"); do
    if [ $((r % 2)) = 1 ]; then
        /usr/bin/time -f "%e %M" -a -o "$work/ffmpeg.times" bash -c run_ffmpeg
        /usr/bin/time -f "%e %M" -a -o "$work/cli.times" bash -c run_cli
    else
        /usr/bin/time -f "%e %M" -a -o "$work/cli.times" bash -c run_cli
        /usr/bin/time -f "%e %M" -a -o "$work/ffmpeg.times" bash -c run_ffmpeg
    fi
done

# The frames: what each moment must show (the first frame at or after it; the
# movie has 25 frames a second from 0), what ffmpeg gave, what the sheet shows.
# The sheet is made once more without the information block, so that its cells
# sit where the default grid puts them.
(cd "$work/cli" && "$cli" -y -q --header off -o check.png "$movie")
sheet_size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0:s=x \
    "$work/cli/check.png")
ffmpeg -nostdin -v error -y -i "$work/cli/check.png" -f rawvideo -pix_fmt bgr24 "$work/sheet.raw"
mapfile -t sheet_codes < <("$bench" sheet-codes "$work/sheet.raw" "$sheet_size" 1920x1080)

same=0
printf '\n%-8s %-14s %-9s %-9s %-9s\n' moment seconds expected ffmpeg stillwick
i=0
while read -r t; do
    pos=$(((i + 1) * step))
    frame=$(((pos * 25 + 9999999) / 10000000))
    expected=$((frame % 1727))
    ffmpeg -nostdin -v error -y -i "$work/frames/$t.png" -f rawvideo -pix_fmt bgr24 "$work/frame.raw"
    ff=$("$bench" frame-code "$work/frame.raw" 1920x1080)
    sw=${sheet_codes[$i]}
    printf '%-8s %-14s %-9s %-9s %-9s\n' $((i + 1)) "$t" "$expected" "$ff" "$sw"
    if [ "$ff" = "$expected" ] && [ "$sw" = "$expected" ]; then
        same=$((same + 1))
    fi
    i=$((i + 1))
done <"$work/moments.txt"

best() { sort -n "$1" | head -1; }
read -r ff_s ff_kb < <(best "$work/ffmpeg.times")
read -r sw_s sw_kb < <(best "$work/cli.times")
echo
echo "Frames: $same of $moments moments show the expected frame in both."
echo "Rounds: $rounds (best of each; all: ffmpeg $(cut -d' ' -f1 "$work/ffmpeg.times" | tr '\n' ' ')" \
    "| stillwick-cli $(cut -d' ' -f1 "$work/cli.times" | tr '\n' ' '))"
echo "25 x ffmpeg, 2 at a time: ${ff_s} s, peak memory per process ${ff_kb} KB"
echo "stillwick-cli:            ${sw_s} s, peak memory ${sw_kb} KB"
awk -v a="$sw_s" -v b="$ff_s" 'BEGIN { printf "Ratio stillwick-cli / ffmpeg: %.2f\n", a / b }'
[ "$same" = "$moments" ]
