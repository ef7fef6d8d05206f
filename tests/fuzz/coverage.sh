#!/usr/bin/env bash
# Line coverage of each fuzz target's parser over its corpus (the seeds and the inputs that
# run_fuzz.sh collected in build/fuzz/corpus), with clang's source-based coverage, built in
# build/fuzz-coverage. Prints llvm-cov's function table for the parser's source files.
#
#   bash tests/fuzz/coverage.sh [TARGET ...]
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
BUILD="${KQ_BUILD_ROOT:-$ROOT/build}"
COV="$BUILD/fuzz-coverage"

declare -A FILES=(
    [param_file_fuzz]="files/param_file.cpp"
    [device_reply_fuzz]="link/protocol_format.cpp"
    [discovery_names_fuzz]="platform/posix/name_match.cpp files/file_search.cpp files/update_set_discovery.cpp"
    [unit_command_reader_fuzz]="sim/line_reader.cpp"
    [upload_record_fuzz]="sim/upload_record.cpp"
)
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=($(printf '%s\n' "${!FILES[@]}" | sort))

cmake -S "$ROOT" -B "$COV" -DKQ_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ \
    -DCMAKE_CXX_FLAGS="-fprofile-instr-generate -fcoverage-mapping" \
    -DCMAKE_EXE_LINKER_FLAGS="-fprofile-instr-generate" >/dev/null &&
    cmake --build "$COV" -j2 --target "${TARGETS[@]}" >/dev/null || exit 1

for target in "${TARGETS[@]}"; do
    corpus=("$ROOT/tests/fuzz/corpus/$target")
    [ -d "$BUILD/fuzz/corpus/$target" ] && corpus+=("$BUILD/fuzz/corpus/$target")
    rm -f "$COV/$target.profraw"
    # -runs=0: each input of the corpus once, no fuzzing.
    LLVM_PROFILE_FILE="$COV/$target.profraw" "$COV/$target" -runs=0 "${corpus[@]}" \
        >"$COV/$target.log" 2>&1 || { echo "$target: a corpus input fails"; exit 1; }
    llvm-profdata merge -sparse "$COV/$target.profraw" -o "$COV/$target.profdata"
    files=()
    for f in ${FILES[$target]}; do files+=("$ROOT/$f"); done
    echo "==== $target ($(find "${corpus[@]}" -type f | wc -l) corpus inputs)"
    # Per function: its name without the arguments, and its lines covered of all.
    llvm-cov report -show-functions -Xdemangler=c++filt "$COV/$target" \
        -instr-profile="$COV/$target.profdata" "${files[@]}" |
        awk '/^File /{ print; next } NF >= 10 && $NF ~ /%$/ {
                name = $1; for (i = 2; i <= NF - 9; ++i) name = name " " $i
                gsub(/\(anonymous namespace\)::|\[abi:[a-z0-9]+\]|^[^ :]+\.cpp:/, "", name)
                sub(/\(.*/, "", name)
                printf "  %-40s lines %4d/%-4d %s\n", name, $(NF-5) - $(NF-4), $(NF-5), $(NF-3) }'
done
