#!/usr/bin/env bash
# Whole batches with -j: 12 generated 30-s 720p movies (H.264, a key frame
# every 2 s, B-frames, film-like texture), 5 × 5 sheets:
#   one core   stillwick-cli -j 1 pinned to core 0 (taskset -c 0)
#   j1         stillwick-cli -j 1 on every core (one sheet at a time, its
#              moments decoded on all cores)
#   j2         stillwick-cli -j 2 on every core (two sheets at once, each
#              decoding on its share)
#   by hand    two stillwick-cli -j 1 processes on 6 movies each, at once
# each timed with GNU time, in turn, round after round; and checks that every
# sheet of -j 2 (and of one core) is byte for byte the sheet of -j 1.
#
# Usage: bench/cli-batch.sh
# Environment: PRESET (default), BUILD_DIR (build/$PRESET), WORK_DIR
#   ($BUILD_DIR/cli-batch), MOVIES (12), SECONDS_EACH (30), RUNS (3).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=${WORK_DIR:-$build/cli-batch}
count=${MOVIES:-12}
seconds=${SECONDS_EACH:-30}
runs=${RUNS:-3}

if [ ! -x /usr/bin/time ]; then
    [ "$(id -u)" = 0 ] || { echo "cli-batch: needs GNU time (apt-get install time)" >&2; exit 1; }
    apt-get install -y --no-install-recommends time >/dev/null
fi
if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$build" >/dev/null
fi
cmake --build "$build" -j "$(nproc)" --target stillwick-cli make-test-movie >/dev/null
cli=$build/cli/stillwick-cli
maker=$build/tests/support/make-test-movie

mkdir -p "$work/movies"
for i in $(seq -w 1 "$count"); do
    movie=$work/movies/movie-$i.mp4
    [ -f "$movie" ] && continue
    echo "Making $movie (1280x720, ${seconds} s) ..."
    "$maker" --size 1280x720 --seconds "$seconds" --gop 50 --bframes 2 --noise 8 \
        --preset superfast "$movie.part.mp4"
    mv "$movie.part.mp4" "$movie"
done
mapfile -t movies < <(ls "$work"/movies/*.mp4)
half=$((${#movies[@]} / 2))
first=("${movies[@]:0:half}")
second=("${movies[@]:half}")
opts=(--options "$work/options.swk" -y -q)

cat >"$work/by-hand.sh" <<SCRIPT
#!/usr/bin/env bash
"$cli" ${opts[*]} -j 1 --output-dir "$work/out-hand" ${first[*]@Q} &
"$cli" ${opts[*]} -j 1 --output-dir "$work/out-hand" ${second[*]@Q} &
wait
SCRIPT
chmod +x "$work/by-hand.sh"

cat "${movies[@]}" >/dev/null # all from the page cache
# The four are run in turn, round after round, so that whatever else the
# machine is doing weighs on all of them alike.
declare -A command=(
    [one core]="taskset -c 0 $cli ${opts[*]} -j 1 --output-dir $work/out-1core $work/movies"
    [j1]="$cli ${opts[*]} -j 1 --output-dir $work/out-j1 $work/movies"
    [j2]="$cli ${opts[*]} -j 2 --output-dir $work/out-j2 $work/movies"
    [by hand]="$work/by-hand.sh"
)
order=("one core" "j1" "j2" "by hand")
rm -f "$work"/times-*.txt
echo "Load before: $(cut -d' ' -f1-3 /proc/loadavg)"
for round in $(seq 1 "$runs"); do
    for name in "${order[@]}"; do
        /usr/bin/time -f "%e %U %S" -a -o "$work/times-${name// /-}.txt" bash -c "${command[$name]}"
    done
    echo "round $round done, load $(cut -d' ' -f1-3 /proc/loadavg)"
done

same=0
for f in "$work"/out-j1/*.jpg; do
    cmp -s "$f" "$work/out-j2/$(basename "$f")" && cmp -s "$f" "$work/out-1core/$(basename "$f")" &&
        same=$((same + 1))
done
echo
echo "Sheets: $same of ${#movies[@]} are byte for byte the same with -j 1, -j 2 and on one core."
python3 - "$work" <<'PY'
import statistics, sys
work = sys.argv[1]
m = {}
for name in ("one core", "j1", "j2", "by hand"):
    rows = [list(map(float, l.split())) for l in open(f"{work}/times-{name.replace(' ', '-')}.txt")]
    wall = [r[0] for r in rows]
    cpu = [r[1] + r[2] for r in rows]
    m[name] = statistics.median(wall)
    print(f"{name:9s} wall median {m[name]:6.2f} s (all: {' '.join(f'{w:.2f}' for w in wall)}),"
          f" CPU median {statistics.median(cpu):6.2f} s")
print(f"-j 2 on both cores against -j 1 on one core:    {m['one core'] / m['j2']:.2f}x")
print(f"-j 2 against -j 1, both on both cores:          {m['j1'] / m['j2']:.2f}x")
print(f"two processes by hand against -j 1 on one core: {m['one core'] / m['by hand']:.2f}x")
PY
[ "$same" = "${#movies[@]}" ]
