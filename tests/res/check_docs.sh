#!/usr/bin/env bash
# The manual page and the bash completion against the program's own --help:
# every option it lists is in both, the page has the program's version, and
# the completion offers what each option takes.
# Usage: check_docs.sh STILLWICK_CLI MAN_PAGE COMPLETION
set -euo pipefail
cli=$1
page=$2
completion=$3
failures=0
fail() {
    echo "check_docs: $*" >&2
    failures=$((failures + 1))
}

help=$("$cli" --help)
mapfile -t options < <(grep -oE -- '(^|[ ,!])--?[a-zA-Z][a-zA-Z-]*' <<<"$help" |
    grep -oE -- '--?[a-zA-Z][a-zA-Z-]*' | sort -u)
[ "${#options[@]}" -ge 30 ] || fail "only ${#options[@]} options found in --help"

# The page as text: groff's escaped hyphens and font changes taken out.
text=$(sed -e 's/\\-/-/g' -e 's/\\f[BIRP]//g' "$page")
for opt in "${options[@]}"; do
    grep -qE -- "(^|[^a-zA-Z-])${opt}([^a-zA-Z-]|$)" <<<"$text" || fail "$opt is not in $page"
done
version=$("$cli" --version)
grep -q "^\.TH .*\"$version\"" "$page" || fail "the page is not of $version"
grep -q '^\.SH EXAMPLES' "$page" || fail "the page has no examples"

# Completion, as bash asks for it, without the bash-completion package.
source "$completion"
complete_words() {
    COMP_WORDS=("$@")
    COMP_CWORD=$(($# - 1))
    COMP_LINE="$*"
    COMP_POINT=${#COMP_LINE}
    COMPREPLY=()
    _stillwick_cli stillwick-cli "${COMP_WORDS[COMP_CWORD]}" "${COMP_WORDS[COMP_CWORD - 1]}"
    printf '%s\n' "${COMPREPLY[@]}" | sort
}
offered=$(complete_words stillwick-cli -)
for opt in "${options[@]}"; do
    grep -qx -- "$opt" <<<"$offered" || fail "completion does not offer $opt"
done
while read -r opt; do
    grep -qx -- "$opt" < <(printf '%s\n' "${options[@]}") || fail "completion offers $opt, which --help does not list"
done <<<"$offered"
[ "$(complete_words stillwick-cli --format '' | tr '\n' ' ')" = "bmp jpg png " ] ||
    fail "--format does not complete to its formats"
[ "$(complete_words stillwick-cli --header b | tr '\n' ' ')" = "bottom-left bottom-right " ] ||
    fail "--header does not complete to its corners"

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir "$work/movies" && touch "$work/movie.mkv"
cd "$work"
[ "$(complete_words stillwick-cli --output-dir mo | tr '\n' ' ')" = "movies " ] ||
    fail "--output-dir does not complete to folders only"
[ "$(complete_words stillwick-cli -r mo | tr '\n' ' ')" = "movie.mkv movies " ] ||
    fail "movies and folders do not complete to files and folders"

if [ "$failures" -gt 0 ]; then
    echo "check_docs: $failures problems" >&2
    exit 1
fi
echo "check_docs: ${#options[@]} options in the page and the completion"
