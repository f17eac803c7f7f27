#!/usr/bin/env bash
# Runs libFuzzer targets of fuzz/ on their seed corpus and dictionary, each for a while.
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]      (default: 30 s each, all six targets)
# Targets run side by side, one per processor (PELLWICK_FUZZ_JOBS sets another number).
# Builds them first with the 'clang' preset. Inputs the run finds go to a scratch corpus under
# build-clang/fuzz-work/<target>/, never into the repository; a crash or a failed oracle leaves
# its input as build-clang/fuzz-work/<target>-crash-* and makes the script fail.
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-30}
shift || true
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script_text ini data_trigger screen_buffer device_protocol upload_header)

cmake --preset clang -DPELLWICK_WERROR=ON >/dev/null
cmake --build --preset fuzz

# One target runs per processor: each is a single process that keeps one core busy.
jobs=${PELLWICK_FUZZ_JOBS:-$(nproc)}
run_one() {
    local target=$1 seconds=$2
    local work=build-clang/fuzz-work/$target
    mkdir -p "$work"
    if build-clang/fuzz/fuzz_"$target" "$work" fuzz/corpus/"$target" \
        -dict=fuzz/"$target".dict -max_total_time="$seconds" -print_final_stats=1 \
        -artifact_prefix=build-clang/fuzz-work/"$target"- 2>build-clang/fuzz-work/"$target".log; then
        echo ok >build-clang/fuzz-work/"$target".result
    else
        echo failed >build-clang/fuzz-work/"$target".result
    fi
}
export -f run_one
rm -f build-clang/fuzz-work/*.result
echo "== ${#targets[@]} fuzz targets for $seconds s each, $jobs at a time"
printf '%s\n' "${targets[@]}" | xargs -P "$jobs" -I{} bash -c 'run_one "$1" "$2"' _ {} "$seconds"

failed=()
for target in "${targets[@]}"; do
    echo "== fuzz_$target"
    if [ "$(cat build-clang/fuzz-work/"$target".result 2>/dev/null)" != ok ]; then
        failed+=("$target")
        grep -E "oracle failed|ERROR|SUMMARY|runtime error" build-clang/fuzz-work/"$target".log | head -5
    fi
    grep -E "stat::number_of_executed_units|cov:" build-clang/fuzz-work/"$target".log | tail -2
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "fuzz: failed: ${failed[*]} (inputs in build-clang/fuzz-work/)"
    exit 1
fi
echo "fuzz: all ${#targets[@]} targets clean"
