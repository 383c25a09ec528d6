#!/usr/bin/env bash
# Whole-process speed of stillwick-cli against the usual FFmpeg ways of doing
# the same job, in one run:
#
#   exact, 10-min movie   a 5 × 5 sheet of a 10-minute 1080p H.264 movie (key
#                         frame every 250, B-pyramid) against 25 separate
#                         `ffmpeg -ss T -i movie -frames:v 1`, two at a time
#   exact, shared GOPs    5 × 5 sheets of movies whose moments share GOPs
#                         (a 2-s 1080p60 single-GOP clip in MP4 and in TS, a
#                         1-min 1080p VP9 WebM, a 30-s 2160p HEVC MP4), each
#                         against one ffmpeg pass that decodes up to the last
#                         moment, picks the same frames, scales, tiles and
#                         writes a JPEG (select + tile)
#   20 × 20, 10-min movie against the same select + tile pass with 400 cells
#   --fast, 10-min movie  against 25 × `ffmpegthumbnailer -t T`, two at a
#                         time, and against the exact sheet
#   peak memory           of every stillwick-cli run, and of a 20 × 20 sheet
#                         of the 2160p movie, which must stay under 1 GiB
#
# The select + tile pass is the baseline for shared GOPs rather than a bare
# `ffmpeg -i movie -f null -`: it is the same job (first frame at or after each
# moment, fitted into its cell, one JPEG), so neither side is spared the
# scaling and writing, and like the sheet it stops after the last moment.
#
# The compared commands alternate within each round (the order turns round by
# round), so a machine that gets busier part way through hurts both; each
# figure is the median of the rounds. Then the frames of the 10-min movie are
# checked: ffmpeg's and the exact sheet's must be the first frame at or after
# each moment, the --fast sheet's the key frame nearest each moment.
#
# Exit status: 0 when the frames are right, whether or not the speed targets
# are met (the table says which); non-zero when the frames are wrong or the
# script itself fails.
#
# Usage: bench/compare-ffmpeg.sh
# Environment:
#   CLI          the stillwick-cli to time (default: the one built here), so
#                that a baseline build and a new one can be timed alike
#   PRESET       (default), BUILD_DIR ($root/build/$PRESET): where the tools
#                (and, without CLI, stillwick-cli) are built
#   MOVIES_DIR   where the movies are made once and kept
#                ($BUILD_DIR/bench-movies)
#   WORK_DIR     scratch folder ($BUILD_DIR/compare-ffmpeg)
#   ROUNDS       (3)
#   MEASURES     which parts to run, of: long (exact and --fast 5 × 5 sheets
#                of the long movie, and the frame checks), shared (the shared
#                GOP movies), grid (20 × 20 of the long movie), memory (20 × 20
#                of the 2160p movie); default all of them
#   MOVIE_SECONDS  length of the long movie (600)
#   MOVIE        use this long movie instead of making one; the frame checks
#                then need a movie made by make-test-movie with --index-patch
#                at 25 fps
#
# ffmpeg, ffprobe, ffmpegthumbnailer and GNU time are installed with apt-get
# when the script runs as root.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
preset=${PRESET:-default}
build=$(realpath -m "${BUILD_DIR:-$root/build/$preset}")
work=$(realpath -m "${WORK_DIR:-$build/compare-ffmpeg}")
movies=$(realpath -m "${MOVIES_DIR:-$build/bench-movies}")
seconds=${MOVIE_SECONDS:-600}
rounds=${ROUNDS:-3}
measures=" ${MEASURES:-long shared grid memory} "
wanted() { [[ $measures == *" $1 "* ]]; }

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
need ffmpegthumbnailer ffmpegthumbnailer
[ -x /usr/bin/time ] || need /usr/bin/time time

echo "Load at start: $(uptime)"

if [ ! -f "$build/CMakeCache.txt" ]; then
    cmake --preset "$preset" -B "$build" >/dev/null
fi
targets=(make-test-movie media-bench)
[ -n "${CLI:-}" ] || targets+=(stillwick-cli)
cmake --build "$build" -j 2 --target "${targets[@]}" >/dev/null
cli=$(realpath "${CLI:-$build/cli/stillwick-cli}")
maker=$build/tests/support/make-test-movie
bench=$build/bench/capture/media-bench
fast=no
"$cli" --help | grep -q -- '--fast' && fast=yes
echo "Timing $cli (--fast: $fast), $rounds rounds"

mkdir -p "$movies" "$work/cli" "$work/frames" "$work/thumbs" "$work/times"
rm -f "$work"/times/*

# ---------------------------------------------------------------- the movies
# Each is written under a temporary name and renamed when whole, so a run
# that was stopped half way makes it again rather than timing half a movie.
made() { # file; true when the movie is already there
    [ -f "$1" ] && return 0
    echo "Making $1 ..."
    return 1
}
ffmake() { # file format ffmpeg-arguments...
    local file=$1 format=$2
    shift 2
    ffmpeg -nostdin -v error -y "$@" -f "$format" "$file.part"
    mv "$file.part" "$file"
}

long=$(realpath -m "${MOVIE:-$movies/movie-1080p-${seconds}s.mp4}")
if ! made "$long"; then
    # The maker picks the container by the extension, so it is kept.
    part=${long%.*}.part.${long##*.}
    "$maker" --size 1920x1080 --seconds "$seconds" --gop 250 --bframes 3 --noise 12 \
        --index-patch --preset superfast "$part"
    mv "$part" "$long"
fi
# One GOP for the whole clip: every moment needs the frames before it.
clip_mp4=$movies/clip-1080p60-2s.mp4
clip_ts=$movies/clip-1080p60-2s.ts
made "$clip_mp4" ||
    ffmake "$clip_mp4" mp4 -f lavfi -i testsrc2=s=1920x1080:r=60:d=2 -pix_fmt yuv420p \
        -c:v libx264 -g 1000 -bf 3
made "$clip_ts" || ffmake "$clip_ts" mpegts -i "$clip_mp4" -c copy
# The encoders' own key-frame intervals, as most such files are made.
vp9=$movies/vp9-1080p30-60s.webm
made "$vp9" ||
    ffmake "$vp9" webm -f lavfi -i testsrc2=s=1920x1080:r=30:d=60 -pix_fmt yuv420p \
        -c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -b:v 4M
hevc=$movies/hevc-2160p30-30s.mp4
made "$hevc" ||
    ffmake "$hevc" mp4 -f lavfi -i testsrc2=s=3840x2160:r=30:d=30 -pix_fmt yuv420p \
        -c:v libx265 -preset fast -x265-params log-level=error

# ---------------------------------------------------------------- the moments
# What the sheet shows: cell i of n at i · (duration / (n + 1)), in 100-ns
# units as the program reads the length.
moments() { # movie cells; prints one moment a line in seconds
    local duration step i pos
    duration=$("$bench" duration "$1")
    step=$((duration / ($2 + 1)))
    for i in $(seq 1 "$2"); do
        pos=$((i * step))
        printf '%d.%07d\n' $((pos / 10000000)) $((pos % 10000000))
    done
}
long_step=$(($("$bench" duration "$long") / 26))
moments "$long" 25 >"$work/moments.txt"

# -------------------------------------------------------------- the commands
# Each runs in a bash of its own under GNU time; %M is then the largest
# resident size of any one process it started.
run_cli() { # mode columns rows movie
    local args=(-y -q --columns "$2" --rows "$3")
    [ "$1" = fast ] && args+=(--fast)
    # A folder of its own, so the default settings file applies.
    (cd "$work/cli" && "$cli" "${args[@]}" -o "out-$1-$2x$3.jpg" "$4")
}
run_ffmpeg_seeks() { # movie
    rm -f "$work"/frames/*.png
    xargs -P 2 -I{} ffmpeg -nostdin -v error -ss {} -i "$1" -frames:v 1 -y \
        "$work/frames/{}.png" <"$work/moments.txt"
}
run_thumbnailer() { # movie
    rm -f "$work"/thumbs/*.jpg
    awk '{ s = int($1); printf "%02d:%02d:%02d\n", s / 3600, s % 3600 / 60, s % 60 }' \
        "$work/moments.txt" |
        xargs -P 2 -I{} ffmpegthumbnailer -s 156 -t {} -i "$1" -o "$work/thumbs/{}.jpg"
}
run_ffmpeg_sheet() { # columns rows movie
    # The first frame at or after each moment i · step is the one whose time,
    # in whole steps, has gone up by one. One expression for any number of
    # cells (a term per moment overflows ffmpeg's expression parser at 400);
    # times in 100-ns units, so that a frame exactly at a moment divides
    # exactly.
    local cells=$(($1 * $2)) step
    step=$(($("$bench" duration "$3") / (cells + 1)))
    local at="floor(floor(t*10000000+0.5)/$step)" before="floor(floor(prev_t*10000000+0.5)/$step)"
    ffmpeg -nostdin -v error -y -i "$3" -an -sn \
        -vf "select='gt($at,$before)*between($at,1,$cells)',scale=156:117:force_original_aspect_ratio=decrease,tile=$1x$2:margin=10:padding=10" \
        -frames:v 1 -fps_mode passthrough -q:v 3 "$work/ffmpeg-$1x$2.jpg"
}
export -f run_cli run_ffmpeg_seeks run_thumbnailer run_ffmpeg_sheet
export work cli bench

# measure KEY NAME COMMAND [NAME COMMAND ...]: every command once a round, the
# order turned by one each round; times in $work/times/KEY-NAME.
measure() {
    local key=$1 r i n
    shift
    local names=() commands=()
    while [ $# -gt 0 ]; do
        names+=("$1")
        commands+=("$2")
        shift 2
    done
    n=${#names[@]}
    for r in $(seq 0 $((rounds - 1))); do
        for i in $(seq 0 $((n - 1))); do
            local k=$(((i + r) % n))
            /usr/bin/time -f "%e %M" -a -o "$work/times/$key-${names[$k]}" \
                bash -c "${commands[$k]}"
        done
        printf '  %s round %d:' "$key" $((r + 1))
        for i in $(seq 0 $((n - 1))); do
            tail -1 "$work/times/$key-${names[$i]}" |
                awk -v n="${names[$i]}" '{ printf " %s %s s %.0f MiB,", n, $1, $2 / 1024 }'
        done
        echo
    done
}
median() { # file: the median of the first column
    sort -n "$1" | awk '{ v[NR] = $1 } END { print (NR % 2) ? v[(NR + 1) / 2] : (v[NR / 2] + v[NR / 2 + 1]) / 2 }'
}
peak_mib() { # file: the largest second column, KB to MiB
    awk 'BEGIN { m = 0 } $2 > m { m = $2 } END { printf "%.0f", m / 1024 }' "$1"
}

table=()
row() { # label stillwick-file baseline-file target
    local sw base ratio met
    sw=$(median "$2")
    base=$(median "$3")
    ratio=$(awk -v a="$sw" -v b="$base" 'BEGIN { printf "%.2f", a / b }')
    met=$(awk -v r="$ratio" -v t="$4" 'BEGIN { print (t == "" ? "-" : (r <= t ? "yes" : "NO")) }')
    table+=("| $1 | $sw s | $base s | $ratio | ${4:+≤ }${4:--} | $met | $(peak_mib "$2") MiB / $(peak_mib "$3") MiB |")
}

cat "$long" "$clip_mp4" "$clip_ts" "$vp9" "$hevc" >/dev/null # all start from the page cache

if wanted long; then
    echo
    echo "Exact and --fast 5 × 5 sheets of the long movie, 25 × ffmpeg -ss, 25 × ffmpegthumbnailer:"
    set -- exact "run_cli exact 5 5 '$long'" ffmpeg-ss "run_ffmpeg_seeks '$long'"
    [ "$fast" = yes ] &&
        set -- "$@" fast "run_cli fast 5 5 '$long'" thumbnailer "run_thumbnailer '$long'"
    measure long "$@"
    row "exact 5×5, 10-min 1080p H.264 / 25 × ffmpeg -ss (2 at a time)" \
        "$work/times/long-exact" "$work/times/long-ffmpeg-ss" 0.50
    if [ "$fast" = yes ]; then
        row "--fast 5×5, 10-min 1080p H.264 / 25 × ffmpegthumbnailer (2 at a time)" \
            "$work/times/long-fast" "$work/times/long-thumbnailer" 0.15
        row "--fast 5×5 / exact 5×5, 10-min 1080p H.264" \
            "$work/times/long-fast" "$work/times/long-exact" ""
    else
        table+=("| --fast 5×5, 10-min 1080p H.264 / 25 × ffmpegthumbnailer | skipped: this stillwick-cli has no --fast | | | ≤ 0.15 | - | |")
        table+=("| --fast 5×5 / exact 5×5, 10-min 1080p H.264 | skipped: this stillwick-cli has no --fast | | | - | - | |")
    fi
fi

if wanted shared; then
    for m in "$clip_mp4" "$clip_ts" "$vp9" "$hevc"; do
        key=$(basename "$m")
        echo
        echo "Exact 5 × 5 sheet of $key, one ffmpeg select + tile pass:"
        measure "$key" exact "run_cli exact 5 5 '$m'" ffmpeg "run_ffmpeg_sheet 5 5 '$m'"
        # The short clips are mostly process start and openings, where the
        # one-opening reader is meant to show; the long ones mostly decoding.
        goal=0.8
        [[ $key == clip-* ]] && goal=0.6
        row "exact 5×5, $key / one ffmpeg pass (select+tile)" \
            "$work/times/$key-exact" "$work/times/$key-ffmpeg" "$goal"
    done
fi

if wanted grid; then
    echo
    echo "Exact 20 × 20 sheet of the long movie, one ffmpeg select + tile pass:"
    measure grid exact "run_cli exact 20 20 '$long'" ffmpeg "run_ffmpeg_sheet 20 20 '$long'"
    row "exact 20×20, 10-min 1080p H.264 / one ffmpeg pass (select+tile)" \
        "$work/times/grid-exact" "$work/times/grid-ffmpeg" 0.55
fi

if wanted memory; then
    echo
    echo "Peak memory of a 20 × 20 sheet of the 2160p HEVC movie:"
    /usr/bin/time -f "%e %M" -o "$work/times/hevc-grid" bash -c "run_cli exact 20 20 '$hevc'"
    read -r hevc_s hevc_kb <"$work/times/hevc-grid"
    hevc_mib=$(awk -v k="$hevc_kb" 'BEGIN { printf "%.0f", k / 1024 }')
    hevc_met=$([ "$hevc_kb" -lt $((1024 * 1024)) ] && echo yes || echo NO)
    echo "  $hevc_s s, $hevc_mib MiB"
    table+=("| peak memory, exact 20×20, 30-s 2160p HEVC (one run) | $hevc_s s | | | < 1024 MiB | $hevc_met | $hevc_mib MiB |")
fi

# ------------------------------------------------------------------ the frames
# The sheets are made once more without the information block, so that the
# cells sit where the default grid puts them.
sheet_codes() { # png; one frame code a cell
    local size
    size=$(ffprobe -v error -select_streams v -show_entries stream=width,height -of csv=p=0:s=x "$1")
    ffmpeg -nostdin -v error -y -i "$1" -f rawvideo -pix_fmt bgr24 "$work/sheet.raw"
    "$bench" sheet-codes "$work/sheet.raw" "$size" 1920x1080
}
frames_ok=yes
summary="Frames not checked (MEASURES has no long)."
if wanted long; then
    (cd "$work/cli" && "$cli" -y -q --header off -o check.png "$long")
    mapfile -t sheet < <(sheet_codes "$work/cli/check.png")

    # The movie has 25 frames a second from 0, and the code is the frame number
    # modulo 1727.
    same=0
    printf '\nExact frames:\n%-8s %-14s %-9s %-9s %-9s\n' moment seconds expected ffmpeg stillwick
    i=0
    while read -r t; do
        pos=$(((i + 1) * long_step))
        expected=$((((pos * 25 + 9999999) / 10000000) % 1727))
        ffmpeg -nostdin -v error -y -i "$work/frames/$t.png" -f rawvideo -pix_fmt bgr24 "$work/frame.raw"
        ff=$("$bench" frame-code "$work/frame.raw" 1920x1080)
        sw=${sheet[$i]}
        printf '%-8s %-14s %-9s %-9s %-9s\n' $((i + 1)) "$t" "$expected" "$ff" "$sw"
        if [ "$ff" = "$expected" ] && [ "$sw" = "$expected" ]; then
            same=$((same + 1))
        fi
        i=$((i + 1))
    done <"$work/moments.txt"
    [ "$same" = 25 ] || frames_ok=no
    summary="Exact frames: $same of 25 moments show the expected frame in both ffmpeg and stillwick-cli."

    if [ "$fast" = yes ]; then
        # The key frames as the file lists them (no decoding): each cell must show
        # the one nearest its moment, within half a step.
        ffprobe -v error -select_streams v -show_entries packet=pts_time,flags -of csv=p=0 "$long" |
            awk -F, '$2 ~ /K/ { print $1 }' >"$work/keys.txt"
        (cd "$work/cli" && "$cli" -y -q --fast --header off -o check-fast.png "$long")
        mapfile -t sheet < <(sheet_codes "$work/cli/check-fast.png")
        mapfile -t keyed < <(awk -v step="$long_step" 'NR == FNR { k[n++] = $1; next } {
                best = -1
                for (i = 0; i < n; ++i) {
                    d = k[i] - $1; if (d < 0) d = -d
                    if (best < 0 || d < bd) { best = i; bd = d }
                }
                if (best < 0 || bd > step / 2e7) print -1
                else print int(k[best] * 25 + 0.5) % 1727
            }' "$work/keys.txt" "$work/moments.txt")
        hits=0
        printf '\n--fast frames:\n%-8s %-14s %-9s %-9s\n' moment seconds key stillwick
        i=0
        while read -r t; do
            printf '%-8s %-14s %-9s %-9s\n' $((i + 1)) "$t" "${keyed[$i]}" "${sheet[$i]}"
            [ "${keyed[$i]}" = "${sheet[$i]}" ] && hits=$((hits + 1))
            i=$((i + 1))
        done <"$work/moments.txt"
        [ "$hits" = 25 ] || frames_ok=no
        summary+=$'\n'"--fast frames: $hits of 25 cells show the key frame nearest their moment."
    fi
fi

echo
echo "$summary"
echo "Rounds: $rounds, medians; peak memory is the largest of the rounds (for the"
echo "baselines, of any one process)."
echo
echo "| measure | stillwick | baseline | ratio | target | met | peak memory stillwick / baseline |"
echo "|---|---|---|---|---|---|---|"
printf '%s\n' "${table[@]}"
echo
echo "Load at end: $(uptime)"
[ "$frames_ok" = yes ]
