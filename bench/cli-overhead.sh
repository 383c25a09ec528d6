#!/usr/bin/env bash
# What a movie costs beyond its frames: start-up, probe, layout and write.
# 40 tiny movies (2 s, 176x144) with a 1 × 1 grid, so the decoding is next to
# nothing:
#   per process  one stillwick-cli per movie, each timed (wall and CPU time);
#                the median of 3 rounds
#   per movie    one stillwick-cli over the folder of all 40 (-j 1, then the
#                default), divided by 40; the median of 5
# With BASELINE_CLI=path/to/another/stillwick-cli the per-process runs
# alternate between the two, so both see the same machine.
#
# Usage: bench/cli-overhead.sh
# Environment: PRESET (default), BUILD_DIR (build/$PRESET), WORK_DIR
#   ($BUILD_DIR/cli-overhead), ROUNDS (3), BASELINE_CLI.
set -euo pipefail
[ -x /usr/bin/time ] || apt-get install -y --no-install-recommends time >/dev/null

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=${WORK_DIR:-$build/cli-overhead}
rounds=${ROUNDS:-3}

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target stillwick-cli make-test-movie >/dev/null
maker=$build/tests/support/make-test-movie
declare -A clis=([this]=$build/cli/stillwick-cli)
[ -n "${BASELINE_CLI:-}" ] && clis[baseline]=$BASELINE_CLI

mkdir -p "$work/movies" "$work/out"
for i in $(seq -w 1 40); do
    movie=$work/movies/tiny-$i.mp4
    [ -f "$movie" ] || "$maker" --size 176x144 --seconds 2 --gop 25 "$movie"
done
grid=(--options "$work/options.swk" -y -q --rows 1 --columns 1)
for name in "${!clis[@]}"; do # settings file made, caches warm
    "${clis[$name]}" "${grid[@]}" -o "$work/out/warm.jpg" "$work/movies/tiny-01.mp4"
    : >"$work/process-$name.ms"
    : >"$work/process-cpu-$name.ms"
done

median() { sort -n | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'; }

for _ in $(seq 1 "$rounds"); do
    for movie in "$work"/movies/*.mp4; do
        for name in "${!clis[@]}"; do
            start=$(date +%s%N)
            /usr/bin/time -f "%U %S" -o "$work/cpu.txt" "${clis[$name]}" "${grid[@]}" \
                -o "$work/out/$(basename "$movie" .mp4).jpg" "$movie"
            end=$(date +%s%N)
            awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e6 }' >>"$work/process-$name.ms"
            awk '{ printf "%.0f\n", ($1 + $2) * 1000 }' "$work/cpu.txt" >>"$work/process-cpu-$name.ms"
        done
    done
done

batch() { # file, then stillwick-cli arguments
    local file=$1
    shift
    : >"$file"
    for _ in 1 2 3 4 5; do
        start=$(date +%s%N)
        "${clis[this]}" "${grid[@]}" --output-dir "$work/out" "$@" "$work/movies"
        end=$(date +%s%N)
        awk -v ns=$((end - start)) 'BEGIN { printf "%.3f\n", ns / 1e6 / 40 }' >>"$file"
    done
}
batch "$work/batch-j1.ms" -j 1
batch "$work/batch-j.ms"

echo "Load: $(cut -d' ' -f1-3 /proc/loadavg) on $(nproc) cores (wall times suffer when it is high)"
for name in "${!clis[@]}"; do
    f=$work/process-$name.ms
    echo "$name, one process per movie: wall median $(median <"$f") ms" \
        "(min $(sort -n "$f" | head -1), max $(sort -n "$f" | tail -1), $(wc -l <"$f") runs)," \
        "CPU median $(median <"$work/process-cpu-$name.ms") ms (10-ms ticks)"
done
echo "this, one process for the folder of 40, -j 1: median $(median <"$work/batch-j1.ms") ms a movie"
echo "this, one process for the folder of 40, -j $(nproc): median $(median <"$work/batch-j.ms") ms a movie"
