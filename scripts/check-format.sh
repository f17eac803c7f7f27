#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format-14 makes of it with the
# repository's .clang-format, and names each such file. With --fix it formats them instead.
# The files are checked in batches, two at a time; each batch prints whole lines, one a file
# ("differs NAME" or "failed NAME"), so the two batches' lines never run into each other.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = "--fix" ] && fix=1
check_batch() {
    local formatted f
    formatted="$(mktemp)"
    for f; do
        if ! clang-format-14 --style=file "$f" >"$formatted" 2>/dev/null; then
            printf 'failed %s\n' "$f"
        elif ! cmp -s "$formatted" "$f"; then
            printf 'differs %s\n' "$f"
        fi
    done
    rm -f "$formatted"
}
export -f check_batch
report="$(git ls-files -z '*.cpp' '*.h' | xargs -0 -n 40 -P 2 bash -c 'check_batch "$@"' _)"
mapfile -t failed < <(sed -n 's/^failed //p' <<<"$report" | sort)
mapfile -t differing < <(sed -n 's/^differs //p' <<<"$report" | sort)
if [ ${#failed[@]} -gt 0 ]; then
    printf 'check-format: clang-format-14 failed on %s\n' "${failed[@]}" >&2
    exit 1
fi
if [ ${#differing[@]} -eq 0 ]; then
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
