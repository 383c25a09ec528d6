#!/usr/bin/env bash
# Movies whose frames are huge and whose files are small: 16000 × 16000
# pictures of one flat colour, 30 of them, as PNG frames in Matroska and as
# MJPEG frames in AVI (each file a few MB; each decoded frame 732 MiB of RGB).
# For each, in turn within each round:
#
#   sheet    stillwick-cli, the default 5 × 5 sheet
#   ffmpeg   one ffmpeg pass that decodes the first 25 frames, scales each to
#            a cell and tiles them (scale + tile): the least a sheet needs
#
# wall time and peak memory (GNU time's maximum resident set size), the
# median of the rounds; then how long stillwick-cli takes to stop after
# SIGINT, sent 1, 2 and 3 s into a run (the longest of the three).
#
# Usage: bench/huge-frames.sh
# Environment:
#   CLI         the stillwick-cli to time (default: the one built here)
#   PRESET      (default), BUILD_DIR ($root/build/$PRESET)
#   MOVIES_DIR  where the movies are made once and kept ($BUILD_DIR/bench-movies)
#   WORK_DIR    scratch folder ($BUILD_DIR/bench-huge)
#   ROUNDS      (3)
#   SIDE        the pictures' width and height (16000)
#
# ffmpeg and GNU time are installed with apt-get when the script runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=$(realpath -m "${WORK_DIR:-$build/bench-huge}")
movies=$(realpath -m "${MOVIES_DIR:-$build/bench-movies}")
rounds=${ROUNDS:-3}
side=${SIDE:-16000}

need() { # command package
    command -v "$1" >/dev/null 2>&1 && return
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends "$2" >/dev/null
    else
        echo "huge-frames: needs $1 (apt-get install $2)" >&2
        exit 1
    fi
}
need ffmpeg ffmpeg
[ -x /usr/bin/time ] || need /usr/bin/time time

if [ -z "${CLI:-}" ]; then
    cmake --build "$build" -j 2 --target stillwick-cli >/dev/null
    CLI=$build/cli/stillwick-cli
fi
mkdir -p "$movies" "$work"

png=$movies/huge-${side}-png.mkv
mjpeg=$movies/huge-${side}-mjpeg.avi
source_args=(-f lavfi -i "color=c=0x2a4d69:s=${side}x${side}:r=10:d=3")
[ -s "$png" ] || ffmpeg -v error -y "${source_args[@]}" -c:v png "$png"
[ -s "$mjpeg" ] || ffmpeg -v error -y "${source_args[@]}" -c:v mjpeg -q:v 5 "$mjpeg"

# time-file command...: wall seconds and peak KiB into the file.
timed() {
    local out=$1
    shift
    /usr/bin/time -f "%e %M" -o "$out" "$@" >/dev/null 2>"$work/stderr" || {
        echo "huge-frames: failed: $*" >&2
        cat "$work/stderr" >&2
        exit 1
    }
}
median() { sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo "Load at start: $(uptime)"
echo "Timing $CLI, $rounds rounds"
table=()
for movie in "$png" "$mjpeg"; do
    key=$(basename "$movie")
    : >"$work/$key.sheet"
    : >"$work/$key.ffmpeg"
    for ((r = 1; r <= rounds; r++)); do
        order=(sheet ffmpeg)
        ((r % 2 == 0)) && order=(ffmpeg sheet)
        line="  $key round $r:"
        for what in "${order[@]}"; do
            if [ "$what" = sheet ]; then
                timed "$work/t" "$CLI" -y -q -o "$work/sheet.jpg" "$movie"
            else
                timed "$work/t" ffmpeg -v error -y -threads 0 -i "$movie" \
                    -vf "scale=208:208,tile=5x5" -frames:v 1 "$work/ffmpeg.jpg"
            fi
            cat "$work/t" >>"$work/$key.$what"
            read -r s kib <"$work/t"
            line+=" $what $s s $((kib / 1024)) MiB,"
        done
        echo "$line"
    done
    ours=$(awk '{ print $1 }' "$work/$key.sheet" | median)
    theirs=$(awk '{ print $1 }' "$work/$key.ffmpeg" | median)
    ourPeak=$(awk '{ print $2 }' "$work/$key.sheet" | sort -n | tail -1)
    theirPeak=$(awk '{ print $2 }' "$work/$key.ffmpeg" | sort -n | tail -1)

    # The stop: SIGINT at 1, 2 and 3 s; the time from the signal to the exit.
    worst=0
    for after in 1 2 3; do
        "$CLI" -y -q -o "$work/stopped.jpg" "$movie" >/dev/null 2>&1 &
        pid=$!
        sleep "$after"
        sent=$(date +%s.%N)
        kill -INT "$pid" 2>/dev/null || true
        wait "$pid" 2>/dev/null || true
        worst=$(awk -v now="$(date +%s.%N)" -v sent="$sent" -v worst="$worst" \
            'BEGIN { t = now - sent; print (t > worst ? t : worst) }')
    done

    table+=("$(printf '| %s, 5×5 / ffmpeg scale+tile | %.2f s | %.2f s | %.2f | %d / %d MiB | %.2f s |' \
        "$key" "$ours" "$theirs" "$(awk -v a="$ours" -v b="$theirs" 'BEGIN { print a / b }')" \
        $((ourPeak / 1024)) $((theirPeak / 1024)) "$worst")")
done

echo
echo "Rounds: $rounds, medians of wall time; peak memory is the largest of the rounds."
echo
echo "| movie | stillwick | ffmpeg | ratio | peak memory stillwick / ffmpeg | stop after SIGINT (worst of 3) |"
echo "|---|---|---|---|---|---|"
printf '%s\n' "${table[@]}"
echo
echo "Load at end: $(uptime)"
