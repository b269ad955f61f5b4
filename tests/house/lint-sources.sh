#!/usr/bin/env bash
# Runs a checker on every source of one language that git lists in the checkout, so that a new script
# is checked without being named anywhere: shell (a .sh name or an sh or bash first line) or python (a
# .py name or a python first line). Run from the top of the checkout.
#
# Usage: tests/house/lint-sources.sh shell|python CHECKER [ARGUMENT...]
set -euo pipefail

language=$1
shift

is_source() {
    local file=$1 first=''
    # A file deleted in the work tree and not yet committed is still listed
    [[ -f $file ]] || return 1
    IFS= read -r first <"$file" || true
    case $language in
        shell) [[ $file == *.sh || $first =~ ^'#!'(/usr)?/bin/(env[[:space:]]+)?(ba)?sh([[:space:]]|$) ]] ;;
        python) [[ $file == *.py || $first =~ ^'#!'.*python ]] ;;
        *) echo "lint-sources: no such language: $language" >&2; exit 2 ;;
    esac
}

sources=()
while IFS= read -r -d '' file; do
    if is_source "$file"; then
        sources+=("$file")
    fi
done < <(git ls-files -z)
if [[ ${#sources[@]} -eq 0 ]]; then
    echo "lint-sources: git lists no $language source in $PWD" >&2
    exit 1
fi
echo "lint-sources: ${1##*/} on ${#sources[@]} $language files"
"$@" "${sources[@]}"
