#!/usr/bin/env bash
# Builds the libFuzzer targets (clang, in build/fuzz) and runs each for a bounded time, starting
# from its seeds in tests/fuzz/corpus/<target>; new inputs go to build/fuzz/corpus/<target>,
# inputs that fail to build/fuzz/artifacts/<target>/. Prints one line per target with its runs,
# its coverage (edges and features in all, and the edges of the parser it is there for) and its
# corpus, then "N passed, M failed". Exits non-zero when a target failed.
#
#   bash tests/fuzz/run_fuzz.sh [--time SECONDS] [--parallel N] [TARGET ...]
#       (default 30 s per target, two targets at a time)
#
# A target fails when it finds a fault (a crash, a sanitizer report, a broken check, a hang or
# too much memory) and also when it never reached the code of its parser.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
FUZZ="${KQ_BUILD_ROOT:-$ROOT/build}/fuzz"
SEEDS="$ROOT/tests/fuzz/corpus"
DICTS="$ROOT/tests/fuzz/dict"
TIME=30
PARALLEL=2
TARGETS=()
while [ $# -gt 0 ]; do
    case "$1" in
    --time) TIME="$2"; shift 2 ;;
    --parallel) PARALLEL="$2"; shift 2 ;;
    *) TARGETS+=("$1"); shift ;;
    esac
done

# Each target's parser: the functions the target calls (helpers inlined into them count with
# them). A target passes only when it reached every one of them.
declare -A PARSER=(
    [param_file_fuzz]="ReadParamFile ParamFileLines ParamFileHeading ParamFileChoices"
    [device_reply_fuzz]="IsRefusal FindModelText UnameVersionText VersionTextWithoutLineEnd
        ParseDeviceVersion FormatLogEntry"
    [discovery_names_fuzz]="platform::WindowsNameMatches KeepFound FileNameLess ScanFolder
        CpuFileVersion FormatStorCommand MakeUploadHeader EncodeUploadHeader RecordLogText"
    [unit_command_reader_fuzz]="sim::LineReader::Feed sim::LineReader::PopLine"
    [upload_record_fuzz]="sim::FindSelector sim::CheckUpload"
    [report_writer_fuzz]="cli::ReportText cli::UpdateReport cli::CheckReport"
    [sshsig_fuzz]="trust::ReadSshSignature trust::DecodeBase64 trust::JudgeSignature"
    [allowed_signers_fuzz]="trust::ReadAllowedSigners trust::MatchPatternList"
    [manifest_fuzz]="trust::ReadManifest trust::ReadReleaseState"
)
# The longest input worth trying: a parameter file somewhat past its 100-byte buffer, a command
# line past the reader's 4096-byte cut, ... (the reply target repeats a short input to fill a
# whole receive of 64 KiB).
declare -A MAX_LEN=(
    [param_file_fuzz]=300
    [device_reply_fuzz]=8192
    [discovery_names_fuzz]=4096
    [unit_command_reader_fuzz]=12000
    [upload_record_fuzz]=4096
    [report_writer_fuzz]=4096
    [sshsig_fuzz]=2048
    [allowed_signers_fuzz]=4096
    [manifest_fuzz]=4096
)
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=($(printf '%s\n' "${!PARSER[@]}" | sort))

mkdir -p "$FUZZ"
if ! cmake -S "$ROOT" -B "$FUZZ" -DKQ_FUZZ=ON -DCMAKE_CXX_COMPILER=clang++ >"$FUZZ/configure.log" 2>&1 ||
    ! cmake --build "$FUZZ" -j2 --target "${TARGETS[@]}"; then
    tail -20 "$FUZZ/configure.log"
    echo "the fuzz targets did not build"
    echo "0 passed, ${#TARGETS[@]} failed"
    exit 1
fi

# The parser's functions in libFuzzer's coverage listing ("COVERED_FUNC: hits: H edges: C/T
# name(arguments) file:line", likewise UNCOVERED_FUNC): "reached listed covered total" where
# covered/total are their edges.
parser_coverage() {
    local log="$1" functions="$2"
    grep -E '^(UN)?COVERED_FUNC:' "$log" | awk -v list="$functions" '
        BEGIN { listed = split(list, names, /[ \n]+/); for (i in names) wanted[names[i]] = 1 }
        {
            split($5, edges, "/")
            name = $0
            sub(/^[A-Z_]+: hits: [0-9]+ edges: [0-9]+\/[0-9]+ /, "", name)
            sub(/(\[abi:[a-z0-9]+\])?\(.*$/, "", name)
            if (!(name in wanted) || (name in seen)) next
            seen[name] = 1
            if ($1 == "COVERED_FUNC:") reached++
            covered += edges[1]; total += edges[2]
        }
        END { printf "%d %d %d %d", reached, listed, covered, total }'
}

# Runs one target and writes what it found to $FUZZ/<target>.result: its summary and verdict
# (first line "ok" or "FAILED"), then for a failure the end of its log.
fuzz_one() {
    local target="$1"
    local corpus="$FUZZ/corpus/$target"
    local artifacts="$FUZZ/artifacts/$target/"
    local log="$FUZZ/$target.log"
    local result="$FUZZ/$target.result"
    mkdir -p "$corpus" "$artifacts"
    local dict=()
    [ -f "$DICTS/$target.dict" ] && dict=(-dict="$DICTS/$target.dict")
    local start
    start=$(date +%s)
    timeout $((TIME + 120)) "$FUZZ/$target" "$corpus" "$SEEDS/$target" "${dict[@]}" \
        -max_total_time="$TIME" -max_len="${MAX_LEN[$target]}" -timeout=10 -rss_limit_mb=2048 \
        -artifact_prefix="$artifacts" -print_final_stats=1 -print_coverage=1 >"$log" 2>&1
    local status=$?
    local runs done_line cov ft corp reached listed covered total
    runs=$(grep -E '^stat::number_of_executed_units:' "$log" | awk '{ print $2 }')
    done_line=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
    cov=$(sed -nE 's/.*cov: ([0-9]+).*/\1/p' <<<"$done_line")
    ft=$(sed -nE 's/.*ft: ([0-9]+).*/\1/p' <<<"$done_line")
    corp=$(sed -nE 's/.*corp: ([0-9]+).*/\1/p' <<<"$done_line")
    read -r reached listed covered total <<<"$(parser_coverage "$log" "${PARSER[$target]}")"
    local summary
    summary="$(printf '%s: %s runs in %d s, cov %s edges, ft %s, corpus %s inputs; parser: %s/%s functions reached, %s/%s of their edges' \
        "$target" "${runs:-?}" $(($(date +%s) - start)) "${cov:-?}" "${ft:-?}" "${corp:-?}" \
        "$reached" "$listed" "$covered" "$total")"
    if [ "$status" -eq 0 ] && [ "$reached" -eq "$listed" ]; then
        printf 'ok\n%s: ok\n' "$summary" >"$result"
    else
        {
            echo FAILED
            [ "$status" -eq 0 ] && echo "$target did not reach all of: $(echo ${PARSER[$target]})"
            grep -vE '^(UN)?COVERED_(FUNC|FILE):|^COVERAGE:|^ *(UN)?COVERED_PC' "$log" | tail -40
            echo "$summary: FAILED (status $status; inputs kept in $artifacts)"
        } >"$result"
    fi
}

# Each target is one process on one core: two run side by side, each for its whole time.
PASSED=0
FAILED=0
running=0
for target in "${TARGETS[@]}"; do
    rm -f "$FUZZ/$target.result"
    if [ "$running" -ge "$PARALLEL" ]; then
        wait -n
        running=$((running - 1))
    fi
    fuzz_one "$target" &
    running=$((running + 1))
done
wait
for target in "${TARGETS[@]}"; do
    if [ "$(head -1 "$FUZZ/$target.result" 2>/dev/null)" = ok ]; then
        PASSED=$((PASSED + 1))
    else
        FAILED=$((FAILED + 1))
    fi
    tail -n +2 "$FUZZ/$target.result" 2>/dev/null || echo "$target: FAILED (no result)"
done
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
