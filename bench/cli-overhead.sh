#!/usr/bin/env bash
# What a movie costs beyond its frames: start-up, probe, layout and write.
# 40 tiny movies (2 s, 176x144) with a 1 × 1 grid, so the decoding is next to
# nothing:
#   per process  one stillwick-cli per movie, each timed; the median of 3 rounds
#   per movie    one stillwick-cli -j 1 over all 40, divided by 40 (median of 5)
#
# Usage: bench/cli-overhead.sh
# Environment: PRESET (default), BUILD_DIR (build/$PRESET), WORK_DIR
#   ($BUILD_DIR/cli-overhead), ROUNDS (3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=${WORK_DIR:-$build/cli-overhead}
rounds=${ROUNDS:-3}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target stillwick-cli make-test-movie >/dev/null
cli=$build/cli/stillwick-cli
maker=$build/tests/support/make-test-movie

mkdir -p "$work/movies" "$work/out"
for i in $(seq -w 1 40); do
    movie=$work/movies/tiny-$i.mp4
    [ -f "$movie" ] || "$maker" --size 176x144 --seconds 2 --gop 25 "$movie"
done
opts=(--options "$work/options.swk" -y -q --rows 1 --columns 1 --output-dir "$work/out")
"$cli" "${opts[@]}" "$work/movies/tiny-01.mp4" # settings file made, caches warm

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

: >"$work/per-process.ms"
for _ in $(seq 1 "$rounds"); do
    for movie in "$work"/movies/*.mp4; do
        start=$(date +%s%N)
        "$cli" "${opts[@]}" "$movie"
        end=$(date +%s%N)
        echo $(((end - start) / 1000)) | awk '{ printf "%.3f\n", $1 / 1000 }' >>"$work/per-process.ms"
    done
done
: >"$work/per-movie.ms"
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$cli" "${opts[@]}" -j 1 "$work/movies"
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e6 / 40 }' >>"$work/per-movie.ms"
done
: >"$work/per-movie-j.ms"
for _ in 1 2 3 4 5; do
    start=$(date +%s%N)
    "$cli" "${opts[@]}" "$work/movies"
    end=$(date +%s%N)
    awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e6 / 40 }' >>"$work/per-movie-j.ms"
done

echo "One process per movie: median $(median <"$work/per-process.ms") ms" \
    "($(wc -l <"$work/per-process.ms") runs, min $(sort -n "$work/per-process.ms" | head -1)," \
    "max $(sort -n "$work/per-process.ms" | tail -1))"
echo "One process for 40 movies, -j 1: median $(median <"$work/per-movie.ms") ms a movie"
echo "One process for 40 movies, -j $(nproc): median $(median <"$work/per-movie-j.ms") ms a movie"
