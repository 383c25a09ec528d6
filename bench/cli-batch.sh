#!/usr/bin/env bash
# Whole batches with -j: 12 generated 30-s 720p movies (H.264, a key frame
# every 2 s, B-frames, film-like texture), 5 × 5 sheets, timed with hyperfine:
#   one core   stillwick-cli -j 1 pinned to core 0 (taskset -c 0)
#   j1         stillwick-cli -j 1 on every core (one sheet at a time, its
#              moments decoded on all cores)
#   j2         stillwick-cli -j 2 on every core (two sheets at once, each
#              decoding on its share)
#   by hand    two stillwick-cli -j 1 processes on 6 movies each, at once
# and checks that every sheet of -j 2 is byte for byte the sheet of -j 1.
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

if ! command -v hyperfine >/dev/null; then
    [ "$(id -u)" = 0 ] || { echo "cli-batch: needs hyperfine (apt-get install hyperfine)" >&2; exit 1; }
    apt-get install -y --no-install-recommends hyperfine >/dev/null
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
hyperfine --runs "$runs" --export-json "$work/times.json" --style basic \
    -n "one core" "taskset -c 0 $cli ${opts[*]} -j 1 --output-dir $work/out-1core $work/movies" \
    -n "j1" "$cli ${opts[*]} -j 1 --output-dir $work/out-j1 $work/movies" \
    -n "j2" "$cli ${opts[*]} -j 2 --output-dir $work/out-j2 $work/movies" \
    -n "by hand" "$work/by-hand.sh"

same=0
for f in "$work"/out-j1/*.jpg; do
    cmp -s "$f" "$work/out-j2/$(basename "$f")" && cmp -s "$f" "$work/out-1core/$(basename "$f")" &&
        same=$((same + 1))
done
echo
echo "Sheets: $same of ${#movies[@]} are byte for byte the same with -j 1, -j 2 and on one core."
python3 - "$work/times.json" <<'PY'
import json, sys
r = {x["command"]: x for x in json.load(open(sys.argv[1]))["results"]}
m = {k: v["median"] for k, v in r.items()}
for k in ("one core", "j1", "j2", "by hand"):
    print(f"{k:9s} median {m[k]:7.2f} s  (min {r[k]['min']:.2f}, max {r[k]['max']:.2f})")
print(f"-j 2 on both cores against -j 1 on one core: {m['one core'] / m['j2']:.2f}x")
print(f"-j 2 against -j 1, both on both cores:       {m['j1'] / m['j2']:.2f}x")
print(f"two processes by hand against -j 1 on one core: {m['one core'] / m['by hand']:.2f}x")
PY
[ "$same" = "${#movies[@]}" ]
