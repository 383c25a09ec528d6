#!/usr/bin/env bash
# The Debian package made from a build: its name, the files it installs (both
# programs, the menu entry, the icons, the manual page, the completion, and
# nothing else) and the dependencies dpkg-shlibdeps worked out.
# Usage: check_package.sh BUILD_DIR VERSION
set -euo pipefail
build=$1
version=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
fail() {
    echo "check_package: $*" >&2
    failures=$((failures + 1))
}

if ! cpack --config "$build/CPackConfig.cmake" -B "$work" >"$work/cpack.log" 2>&1; then
    cat "$work/cpack.log" >&2
    exit 1
fi
deb=$work/stillwick_${version}_amd64.deb
[ -f "$deb" ] || { ls "$work" >&2; echo "check_package: no $deb" >&2; exit 1; }

files=$(dpkg-deb -c "$deb" | awk '$1 !~ /^d/ { print $6 }' | sed 's|^\./||' | sort)
expected="usr/bin/stillwick
usr/bin/stillwick-cli
usr/share/applications/stillwick.desktop
usr/share/bash-completion/completions/stillwick-cli
usr/share/icons/hicolor/scalable/apps/stillwick.svg
usr/share/man/man1/stillwick-cli.1.gz"
for size in 16 24 32 48 64 128 256; do
    expected+=$'\n'"usr/share/icons/hicolor/${size}x${size}/apps/stillwick.png"
done
expected=$(sort <<<"$expected")
if [ "$files" != "$expected" ]; then
    fail "the package's files differ from the expected list:"
    diff <(echo "$expected") <(echo "$files") >&2 || true
fi

depends=$(dpkg-deb -f "$deb" Depends)
for want in libc6 libavcodec libavformat libswscale libjpeg62-turbo libpng16 libfontconfig1 \
    libharfbuzz libqt6widgets6 fonts-dejavu-core qt6-qpa-plugins; do
    grep -q "$want" <<<"$depends" || fail "Depends lacks $want: $depends"
done
[ "$(dpkg-deb -f "$deb" Package)" = stillwick ] || fail "the package is not named stillwick"
[ "$(dpkg-deb -f "$deb" Architecture)" = amd64 ] || fail "the package is not for amd64"

# The manual page in the package is a gzip file that man can read.
dpkg-deb -x "$deb" "$work/root"
gzip -t "$work/root/usr/share/man/man1/stillwick-cli.1.gz" || fail "the manual page is not gzip"
zcat "$work/root/usr/share/man/man1/stillwick-cli.1.gz" | grep -q '^\.TH STILLWICK-CLI' ||
    fail "the manual page has no title"

if [ "$failures" -gt 0 ]; then
    exit 1
fi
echo "check_package: $(basename "$deb"): $(wc -l <<<"$files") files; Depends: $depends"
