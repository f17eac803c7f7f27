#!/usr/bin/env bash
# Fails when a tracked C++ file differs from what clang-format-14 makes of it with the
# repository's .clang-format, and names each such file. With --fix it formats them instead.
set -euo pipefail
cd "$(dirname "$0")/.."
fix=0
[ "${1:-}" = "--fix" ] && fix=1
differing=()
while IFS= read -r -d '' file; do
    if ! clang-format-14 --style=file "$file" | cmp -s - "$file"; then
        differing+=("$file")
    fi
done < <(git ls-files -z '*.cpp' '*.h')
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
