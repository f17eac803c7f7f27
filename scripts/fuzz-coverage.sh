#!/usr/bin/env bash
# Line and branch coverage of the file each fuzz target is for, over the inputs it has: its seed
# corpus and what scripts/fuzz.sh found (build-clang/fuzz-work/<target>/).
#   bash scripts/fuzz-coverage.sh [TARGET...]      (default: all six targets)
# Builds the targets once more with clang's source-based coverage into build-cov/, replays every
# input once and prints the llvm-cov report of the target's own sources.
set -euo pipefail
cd "$(dirname "$0")/.."
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(script_text ini data_trigger screen_buffer device_protocol upload_header)

declare -A sources=(
    [script_text]="src/upload/ScriptText.cpp"
    [ini]="src/ini/PrivateProfile.cpp"
    [data_trigger]="src/serial/Triggers.cpp"
    [screen_buffer]="src/terminal/TBuffer.cpp"
    [device_protocol]="tools/devsim/DeviceProtocol.cpp"
    [upload_header]="src/upload/DateText.cpp src/upload/UploadHeader.cpp"
)

cmake --preset clang -B build-cov -DPELLWICK_SANITIZE= -DPELLWICK_BUILD_TESTS=OFF -DPELLWICK_BUILD_BENCH=OFF \
    -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" >/dev/null
cmake --build build-cov --target pellwick_fuzzers -j2

for target in "${targets[@]}"; do
    [ -n "${sources[$target]:-}" ] || { echo "unknown target: $target" >&2; exit 2; }
    out=build-cov/coverage/$target
    rm -rf "$out" && mkdir -p "$out"
    inputs=(fuzz/corpus/"$target")
    [ -d build-clang/fuzz-work/"$target" ] && inputs+=(build-clang/fuzz-work/"$target")
    LLVM_PROFILE_FILE="$out/replay.profraw" build-cov/fuzz/fuzz_"$target" -runs=0 "${inputs[@]}" \
        >"$out/replay.log" 2>&1
    llvm-profdata-14 merge -sparse "$out/replay.profraw" -o "$out/replay.profdata"
    echo "== fuzz_$target: $(find "${inputs[@]}" -type f | wc -l) inputs"
    read -r -a files <<<"${sources[$target]}"
    files=("${files[@]/#/$PWD/}")
    llvm-cov-14 report build-cov/fuzz/fuzz_"$target" -instr-profile="$out/replay.profdata" \
        "${files[@]}"
done
