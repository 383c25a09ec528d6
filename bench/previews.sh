#!/usr/bin/env bash
# Whole-process speed of `stillwick-cli --previews` against the usual recipe
# for scrub previews, one ffmpeg pass that keeps a frame every 10 seconds,
# scales it and tiles the thumbnails into sprites:
#
#   ffmpeg -i movie -vf fps=1/10,scale=160:-2,tile=10x10 sprite-%03d.jpg
#
# on a 60-minute 720p H.264 movie at 23.976 frames a second with the x264
# defaults' key frame every 250 frames (10.4 s, so the moments fall anywhere
# in their groups of pictures, as in a film):
#
#   exact     --previews: the frame at or after every 10th second (the default)
#   fast      --previews --fast: the key frame nearest each moment within 5 s
#   ffmpeg    the pass above (it decodes every frame; its frames are the ones
#             nearest each moment, not the ones at or after it)
#   both      --sheet --previews: the default 5 × 5 sheet and the previews
#             from one request to the reader, against `exact` alone
#
# The commands take turns within each round (the order turns round by round),
# so load from elsewhere falls on all of them; each figure is the median of
# the rounds. Wall time is the measure; on a machine that others share it
# swings with their load, so the processor time (user and system, all
# threads) is given beside it, which load hardly changes. The movie is made once and kept (MOVIES_DIR). The previews of
# the first round are checked: a strictly read track of 360 cues whose last
# ends at 60:00.
#
# Usage: bench/previews.sh
# Environment:
#   CLI            the stillwick-cli to time (default: the one built here)
#   PRESET         (default), BUILD_DIR ($root/build/$PRESET)
#   MOVIES_DIR     where the movie is made once and kept ($BUILD_DIR/bench-movies)
#   WORK_DIR       scratch folder ($BUILD_DIR/bench-previews)
#   ROUNDS         (3)
#   MOVIE_MINUTES  length of the movie (60), made of 10-minute pieces
#
# ffmpeg and GNU time are installed with apt-get when the script runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=$(realpath -m "${WORK_DIR:-$build/bench-previews}")
movies=$(realpath -m "${MOVIES_DIR:-$build/bench-movies}")
rounds=${ROUNDS:-3}
minutes=${MOVIE_MINUTES:-60}

need() { # command package
    command -v "$1" >/dev/null 2>&1 && return
    if [ "$(id -u)" = 0 ]; then
        apt-get install -y --no-install-recommends "$2" >/dev/null
    else
        echo "previews.sh: needs $1 (apt-get install $2)" >&2
        exit 1
    fi
}
need ffmpeg ffmpeg
[ -x /usr/bin/time ] || need /usr/bin/time time

echo "Load at start: $(uptime)"
if [ -z "${CLI:-}" ]; then
    [ -f "$build/CMakeCache.txt" ] || cmake --preset "$preset" -B "$build" >/dev/null
    cmake --build "$build" -j 2 --target stillwick-cli >/dev/null
fi
cli=$(realpath "${CLI:-$build/cli/stillwick-cli}")
echo "Timing $cli, $rounds rounds"

# ---------------------------------------------------------------- the movie
# Ten-minute pieces of ffmpeg's test picture (detail everywhere, and a
# counter that changes every frame), joined without coding them again. Written
# under a temporary name and renamed when whole.
mkdir -p "$movies" "$work"
movie=$movies/movie-720p-${minutes}min.mp4
if [ ! -f "$movie" ]; then
    echo "Making $movie ..."
    piece=$movies/piece-720p-10min.mp4
    if [ ! -f "$piece" ]; then
        ffmpeg -nostdin -v error -y -f lavfi -i "testsrc2=size=1280x720:rate=24000/1001" -t 600 \
            -pix_fmt yuv420p -c:v libx264 -preset superfast -g 250 -bf 3 -f mp4 "$piece.part"
        mv "$piece.part" "$piece"
    fi
    list=$movies/pieces.txt
    : >"$list"
    for _ in $(seq 1 $((minutes / 10))); do
        echo "file '$piece'" >>"$list"
    done
    ffmpeg -nostdin -v error -y -f concat -safe 0 -i "$list" -c copy -f mp4 "$movie.part"
    mv "$movie.part" "$movie"
fi

# -------------------------------------------------------------- the commands
# Each in a folder of its own, made afresh, so that nothing is refused as
# existing and the default settings file applies.
run_cli() { # name arguments...
    local name=$1
    shift
    rm -rf "$work/$name" && mkdir -p "$work/$name"
    (cd "$work/$name" && "$cli" -q -y "$@")
}
run_exact() { run_cli exact --previews out "$movie"; }
run_fast() { run_cli fast --fast --previews out "$movie"; }
run_both() { run_cli both --sheet --output-dir out --previews out "$movie"; }
run_ffmpeg() {
    rm -rf "$work/ffmpeg" && mkdir -p "$work/ffmpeg"
    ffmpeg -nostdin -v error -y -i "$movie" -vf "fps=1/10,scale=160:-2,tile=10x10" \
        "$work/ffmpeg/sprite-%03d.jpg"
}
export -f run_cli run_exact run_fast run_both run_ffmpeg
export work cli movie

mkdir -p "$work/times"
rm -f "$work"/times/*
names=(exact fast ffmpeg both)
cat "$movie" >/dev/null # every command starts from the page cache
for r in $(seq 0 $((rounds - 1))); do
    for i in "${!names[@]}"; do
        name=${names[$(((i + r) % ${#names[@]}))]}
        /usr/bin/time -f "%e %M %U %S" -a -o "$work/times/$name" bash -c "run_$name"
    done
    printf '  round %d:' $((r + 1))
    for name in "${names[@]}"; do
        tail -1 "$work/times/$name" |
            awk -v n="$name" '{ printf " %s %s s (cpu %.1f s) %.0f MiB,", n, $1, $3 + $4, $2 / 1024 }'
    done
    echo
    if [ "$r" = 0 ]; then
        # What was made: a track of a cue a thumbnail that ends at the movie's
        # end, and sprites of 10 × 10.
        track=$work/exact/out/$(basename "${movie%.*}").vtt
        cues=$(grep -c -- ' --> ' "$track")
        last=$(grep -- ' --> ' "$track" | tail -1)
        sprites=$(find "$work/exact/out" -name '*.jpg' | wc -l)
        echo "  exact: $cues cues in $sprites sprites, the last $last;" \
            "ffmpeg: $(find "$work/ffmpeg" -name '*.jpg' | wc -l) sprites"
    fi
done

median() { # file [cpu]: the median of the wall times, or of user + system
    awk -v cpu="${2:-}" '{ print cpu ? $3 + $4 : $1 }' "$1" | sort -n |
        awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
peak_mib() { # file: the largest second column, KB to MiB
    awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { printf "%.0f", m / 1024 }' "$1"
}
row() { # label ours baseline target
    local a b ratio met ca cb cratio
    a=$(median "$work/times/$2")
    b=$(median "$work/times/$3")
    ca=$(median "$work/times/$2" cpu)
    cb=$(median "$work/times/$3" cpu)
    ratio=$(awk -v a="$a" -v b="$b" 'BEGIN { printf "%.2f", a / b }')
    cratio=$(awk -v a="$ca" -v b="$cb" 'BEGIN { printf "%.2f", a / b }')
    met=$(awk -v r="$ratio" -v t="$4" 'BEGIN { print (r <= t ? "yes" : "NO") }')
    echo "| $1 | $a s | $b s | $ratio | ≤ $4 | $met | $ca s / $cb s = $cratio | $(peak_mib "$work/times/$2") / $(peak_mib "$work/times/$3") MiB |"
}

echo
echo "Load at end: $(uptime)"
echo
echo "| Measure ($minutes-min 720p H.264, a preview every 10 s) | stillwick-cli | Baseline | Ratio | Target | Met | Processor time | Peak memory |"
echo "|---|---|---|---|---|---|---|---|"
row "exact previews / one ffmpeg fps+scale+tile pass" exact ffmpeg 0.5
row "--fast previews / the same ffmpeg pass" fast ffmpeg 0.1
row "sheet + previews in one run / previews alone" both exact 1.1
