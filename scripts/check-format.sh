#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format-14 makes of it with the
# repository's .clang-format, and names each such file. With --fix it formats them instead.
# The files are checked in batches, two at a time.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = "--fix" ] && fix=1
status=0
report="$(git ls-files -z '*.cpp' '*.h' |
    xargs -0 -n 40 -P 2 clang-format-14 --style=file --dry-run -Werror 2>&1)" || status=$?
mapfile -t differing < <(sed -n 's/^\(.*\):[0-9]*:[0-9]*: error: code should be clang-formatted.*/\1/p' \
    <<<"$report" | sort -u)
if [ ${#differing[@]} -eq 0 ]; then
    if [ $status -ne 0 ]; then
        # Not a formatting difference: clang-format itself failed.
        printf '%s\n' "$report" >&2
        echo "check-format: clang-format-14 failed (status $status)" >&2
        exit 1
    fi
    echo "check-format: every C++ file is formatted"
    exit 0
fi
if [ $fix -eq 1 ]; then
    clang-format-14 --style=file -i "${differing[@]}"
    echo "check-format: formatted ${#differing[@]} files"
    exit 0
fi
printf 'check-format: not formatted (run scripts/check-format.sh --fix): %s\n' "${differing[@]}" >&2
exit 1
