#!/usr/bin/env bash
# Every C++ file that git lists in the checkout laid out as .clang-format says, so that a file no one
# ran the formatter on fails here rather than in the next reader's diff. Run from the top of the
# checkout.
#
# Usage: tests/house/format_check.sh CLANG_FORMAT
set -euo pipefail

clang_format=$1

files=()
while IFS= read -r -d '' file; do
    # A file deleted in the work tree and not yet committed is still listed
    if [[ -f $file ]]; then
        files+=("$file")
    fi
done < <(git ls-files -z -- '*.cpp' '*.h' '*.hpp' '*.cc')
if [[ ${#files[@]} -eq 0 ]]; then
    echo "format_check: git lists no C++ file in $PWD" >&2
    exit 1
fi
echo "format_check: $("$clang_format" --version) on ${#files[@]} files"
"$clang_format" --dry-run --Werror "${files[@]}"
