#!/usr/bin/env bash
# The project's test command. Installs what is missing, builds the native code and runs its
# test suite, builds the Windows program, its backend tests and the window driver, and runs
# those tests and the end-to-end tests of the Windows program under Wine. Exits non-zero when
# anything fails.
#
#   bash tests/run_all.sh
#
# Build folders: build/release, build/sanitized, build/fuzz and build/windows (the Wine prefix of
# the end-to-end tests lives in build/windows/wineprefix); KQ_BUILD_ROOT moves them elsewhere.
#
# What runs where, and why no less is checked than with a build per purpose:
# - One Release build (build/release) serves the plain run of the whole native suite, the
#   benchmarks' small runs, the Debian package and the programs that the rehearsal and the Wine
#   tests talk to: what the suite passes is the optimised code the package ships.
# - The sanitizer build (Debug, AddressSanitizer and UndefinedBehaviorSanitizer) runs the whole
#   suite again: it finds what no plain run shows (a read past a buffer, a use after free, a
#   leak, undefined arithmetic), and the plain run checks what it cannot (address-space limits
#   and resident memory, which the sanitizers' reservations and quarantine make meaningless; the
#   benchmarks; timing at full speed).
# - The plain suite, the package's rows, the rehearsal and the Wine tests mostly wait (on scaled
#   pauses, on Ansible, on the window), so they run beside the next CPU-bound build rather than
#   after it; their output is printed whole once they have ended. So do the collection's tests
#   and the suite under the sanitizers. Every test that starts a unit has an address of its own
#   and each of them runs in a network namespace of its own, so they do not meet. The builds run
#   one after the other, each on both cores, and so does the fuzzing: the Windows build beside
#   the fuzz targets' build made the fuzzing's 30 s of each target a time of fewer runs.
# - No source is compiled twice with the same flags: the Windows programs share their objects,
#   and the package is made from the Release build's programs.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS=2
# The suites wait on scaled time far more than they compute, and every test that starts a
# simulated unit has an address of its own: four at once pass on two loaded cores.
TEST_JOBS=4
BUILD="${KQ_BUILD_ROOT:-$ROOT/build}"
RELEASE="$BUILD/release"
SANITIZED="$BUILD/sanitized"
WINDOWS="$BUILD/windows"
BESIDE_LOGS="$BUILD/beside"

# ccache when installed: a second run then compiles only what changed (the precompiled header of
# the sanitizer build needs its sloppiness about them).
NATIVE_OPTIONS=()
if command -v ccache >/dev/null; then
    NATIVE_OPTIONS+=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    export CCACHE_SLOPPINESS=pch_defines,time_macros
fi

FAILED=()
PASSED_COUNT=0
FAILED_COUNT=0
TOTAL_START=$(date +%s)

# The processor time of this shell's finished children (user and system), in centiseconds: on a
# machine shared with other work it compares runs better than the wall clock does.
children_cpu() {
    # Fields 16 and 17 of /proc/PID/stat, after the program name in parentheses; ticks of 1/100 s.
    local fields
    read -ra fields <<<"$(sed -E 's/^.*\) //' "/proc/$1/stat")"
    echo $((fields[13] + fields[14]))
}

# Runs one section: a header, the commands, its outcome and how long it took (wall and processor).
section() {
    local name="$1"
    shift
    local start cpu outcome=ok status=0 shell=$BASHPID
    start=$(date +%s)
    cpu=$(children_cpu "$shell")
    printf '\n==== %s ====\n' "$name"
    "$@" || { outcome=FAILED status=1; FAILED+=("$name"); }
    cpu=$(($(children_cpu "$shell") - cpu))
    printf -- '---- %s: %s (%d s, cpu %d.%02d s)\n' "$name" "$outcome" $(($(date +%s) - start)) \
        $((cpu / 100)) $((cpu % 100))
    return "$status"
}

# Runs the sections of a function beside what follows, its output to a file; `finish` waits for
# it, prints that output and adds its counts and failed sections to the totals. It runs detached
# (not a child of this shell), so that its processor time is not counted again in whichever
# section of this shell happened to be running when it ended.
BESIDE=()
BESIDE_CPU=0
rm -rf "$BESIDE_LOGS"
beside() {
    local log="$BESIDE_LOGS/$1.txt"
    mkdir -p "$BESIDE_LOGS"
    rm -f "$log.counts"
    ( (
        PASSED_COUNT=0 FAILED_COUNT=0 FAILED=()
        local shell=$BASHPID
        "$@" >"$log" 2>&1
        {
            echo "$PASSED_COUNT $FAILED_COUNT $(children_cpu "$shell")"
            printf '%s\n' "${FAILED[@]}"
        } >"$log.partial" && mv "$log.partial" "$log.counts"
    ) & )
    BESIDE+=("$1")
    printf '\n(%s: runs beside what follows; its sections are printed once they have ended)\n' "$1"
}

finish() {
    local log="$BESIDE_LOGS/$1.txt" passed failed cpu name waited=0
    # Every section in it is bounded by its own timeout; this bound is only a last resort.
    until [ -f "$log.counts" ] || [ "$waited" -ge 7200 ]; do
        sleep 1
        waited=$((waited + 1))
    done
    cat "$log"
    if { read -r passed failed cpu; } <"$log.counts" 2>/dev/null; then
        PASSED_COUNT=$((PASSED_COUNT + passed))
        FAILED_COUNT=$((FAILED_COUNT + failed))
        BESIDE_CPU=$((BESIDE_CPU + cpu))
        while read -r name; do
            [ -z "$name" ] || FAILED+=("$name")
        done < <(tail -n +2 "$log.counts")
    else
        printf '%s did not end within %d s\n' "$1" "$waited"
        FAILED+=("$1")
        FAILED_COUNT=$((FAILED_COUNT + 1))
    fi
}

skip() {
    printf '\n==== %s ====\n---- %s: not run (%s)\n' "$1" "$1" "$2"
    FAILED+=("$1")
    FAILED_COUNT=$((FAILED_COUNT + 1))
}

# Adds the counts of a runner's closing line to the totals.
count_ctest() {
    local line
    line=$(grep -E '[0-9]+ tests failed out of [0-9]+' "$1" | tail -1)
    if [ -n "$line" ]; then
        local failed total
        failed=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\1/' <<<"$line")
        total=$(sed -E 's/.* ([0-9]+) tests failed out of ([0-9]+).*/\2/' <<<"$line")
        PASSED_COUNT=$((PASSED_COUNT + total - failed))
        FAILED_COUNT=$((FAILED_COUNT + failed))
    else
        FAILED_COUNT=$((FAILED_COUNT + 1))
    fi
}

count_e2e() {
    local line
    line=$(grep -E '^[0-9]+ passed, [0-9]+ failed$' "$1" | tail -1)
    if [ -n "$line" ]; then
        PASSED_COUNT=$((PASSED_COUNT + $(cut -d' ' -f1 <<<"$line")))
        FAILED_COUNT=$((FAILED_COUNT + $(cut -d' ' -f3 <<<"$line")))
    else
        FAILED_COUNT=$((FAILED_COUNT + 1))
    fi
}

# Builds keep going past a failing target (-k), so that one broken test file does not keep the
# other suites from running; programs are removed first so that a failed link leaves none behind.
# The Release build makes everything: the suite, the benchmarks, the package's programs and their
# manual pages.
build_release() {
    rm -f "$RELEASE/kqunit" "$RELEASE/kqvorlink-cli" "$RELEASE/kqtests"
    cmake -S "$ROOT" -B "$RELEASE" -DCMAKE_BUILD_TYPE=Release -DKQ_TESTS=ON "${NATIVE_OPTIONS[@]}" &&
        cmake --build "$RELEASE" -j"$JOBS" -- -k
}

# Runs the suite of one native build folder and adds its counts to the totals. The suite's units
# bind 127.0.x.y:21 and :23: in a network namespace of its own (when this user may make one) no
# other program on the machine, such as a demo's unit or another checkout's suite, holds one.
run_ctest() {
    local dir="$1"
    local out="$dir/ctest-output.txt"
    local own_loopback=()
    unshare -n true 2>/dev/null && own_loopback=(unshare -n sh -c 'ip link set lo up && exec "$@"' sh)
    timeout 2400 "${own_loopback[@]}" ctest --test-dir "$dir" -j"$TEST_JOBS" --output-on-failure \
        --timeout 300 2>&1 | tee "$out"
    local status=${PIPESTATUS[0]}
    count_ctest "$out"
    return "$status"
}

# The same suite built with AddressSanitizer and UndefinedBehaviorSanitizer; any report fails it.
# Made with clang, the other compiler (the Release build is GCC's): its unoptimised build with the
# sanitizers took 107 s against GCC's 342 s, and what one compiler lets through the other may
# warn about. Line tables (-g1) are all a report needs to name file and line. GoogleTest's header
# is parsed once for the suite (unoptimised, a test file then compiles in a fifth to a third less
# time; at -O3, where the code generation dominates, measured no faster, so the Release build has
# none).
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build_sanitized() {
    rm -f "$SANITIZED/kqtests"
    cmake -S "$ROOT" -B "$SANITIZED" -DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=Debug \
        -DCMAKE_CXX_FLAGS_DEBUG=-g1 -DKQ_SANITIZE=ON -DKQ_PCH=ON "${NATIVE_OPTIONS[@]}" &&
        cmake --build "$SANITIZED" -j"$JOBS" --target kqtests kqunit kqvorlink-cli kqvorlink-cli-scaled -- -k
}

build_windows() {
    rm -f "$WINDOWS/KQVorlink.exe" "$WINDOWS/kqdriver.exe" "$WINDOWS/kqwintests.exe" \
        "$WINDOWS/kqvorlink-cli.exe"
    local launcher=()
    command -v ccache >/dev/null && launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    cmake -S "$ROOT" -B "$WINDOWS" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release "${launcher[@]}" &&
        cmake --build "$WINDOWS" -j"$JOBS" -- -k
}

run_e2e() {
    local out="$WINDOWS/e2e-output.txt"
    # The Windows backend's own tests run first, in the same Wine session.
    local gtests=()
    [ -f "$WINDOWS/kqwintests.exe" ] && gtests=(--gtest "$WINDOWS/kqwintests.exe")
    # The fleet front end's console program: check and a one-unit update.
    [ -f "$WINDOWS/kqvorlink-cli.exe" ] && gtests+=(--cli "$WINDOWS/kqvorlink-cli.exe")
    timeout 2400 python3 "$ROOT/tests/e2e/run_e2e.py" --build "$WINDOWS" \
        --kqunit "$RELEASE/kqunit" "${gtests[@]}" 2>&1 | tee "$out"
    local status=${PIPESTATUS[0]}
    count_e2e "$out"
    return "$status"
}

# The fuzz targets of the parsers of outside input, about 30 s each; each counts as one test. Its
# closing line is that of the end-to-end runner.
run_fuzz() {
    local out="$BUILD/fuzz-output.txt"
    mkdir -p "$BUILD"
    bash "$ROOT/tests/fuzz/run_fuzz.sh" --time "${KQ_FUZZ_SECONDS:-30}" 2>&1 | tee "$out"
    local status=${PIPESTATUS[0]}
    count_e2e "$out"
    return "$status"
}

# The Debian package (made from the Release build's programs, lintian, both programs run from the
# unpacked package) and, after the Windows build, the Windows archive; each row counts as a test.
run_package_test() {
    local kind="$1" dir="$2"
    local out="$dir/package-$kind-output.txt"
    mkdir -p "$dir"
    bash "$ROOT/tests/package_test.sh" "$kind" "$dir" 2>&1 | tee "$out"
    local status=${PIPESTATUS[0]}
    count_e2e "$out"
    return "$status"
}

# The multi-site rehearsal: three site hosts in namespaces of their own, updated by the Ansible
# collection over SSH; the site hosts install the Debian package made just before.
run_sites() {
    local out="$RELEASE/sites-output.txt" deb
    deb=$(ls "$RELEASE"/kqvorlink_*_amd64.deb 2>/dev/null | head -1)
    if [ -z "$deb" ]; then
        echo "no $RELEASE/kqvorlink_*_amd64.deb" | tee "$out"
        echo "0 passed, 1 failed" | tee -a "$out"
    else
        timeout 1200 unshare -n /usr/bin/python3 "$ROOT/tests/sites/rehearsal.py" --deb "$deb" \
            --kqunit "$RELEASE/kqunit" 2>&1 | tee "$out"
    fi
    count_e2e "$out"
    grep -qE '^[0-9]+ passed, 0 failed$' "$out"
}
# The collection's unit tests and offline sanity tests (without the native programs they fail).
run_collection() {
    bash "$ROOT/tests/sites/collection_tests.sh" "$RELEASE" 2>&1 | tee "$RELEASE/collection-output.txt"
    local status=${PIPESTATUS[0]}
    count_e2e "$RELEASE/collection-output.txt"
    return "$status"
}

# What needs only the Release build, one after the other (the rehearsal installs the package).
release_checks() {
    section "native tests (ctest)" run_ctest "$RELEASE"
    section "Debian package" run_package_test deb "$RELEASE"
    section "multi-site rehearsal (Ansible)" run_sites
}

# The collection's tests wait on Ansible far more than they compute.
collection_checks() {
    section "Ansible collection (unit and sanity tests)" run_collection
}

# The suite under the sanitizers.
sanitizer_checks() {
    section "native tests under the sanitizers (ctest)" run_ctest "$SANITIZED"
}

# What needs the Windows build (the Wine tests also the Release build's kqunit).
windows_checks() {
    if [ -f "$WINDOWS/kqvorlink-cli.exe" ]; then
        section "Windows archive" run_package_test zip "$WINDOWS"
    else
        skip "Windows archive" "no kqvorlink-cli.exe"
    fi
    if [ ! -x "$RELEASE/kqunit" ]; then
        skip "Windows tests and end-to-end tests (Wine)" "no kqunit from the Release build"
    elif [ ! -f "$WINDOWS/kqdriver.exe" ]; then
        skip "Windows tests and end-to-end tests (Wine)" "no kqdriver.exe"
    else
        section "Windows tests and end-to-end tests (Wine)" run_e2e
    fi
}

section "packages" bash "$ROOT/tests/install_packages.sh"

section "Release build" build_release
if [ -f "$RELEASE/CTestTestfile.cmake" ] && [ -x "$RELEASE/kqtests" ] && [ -x "$RELEASE/kqunit" ]; then
    beside release_checks
else
    for name in "native tests (ctest)" "Debian package" "multi-site rehearsal (Ansible)"; do
        skip "$name" "no kqtests or kqunit from the Release build"
    done
fi
beside collection_checks

section "sanitizer build (address, undefined)" build_sanitized
if [ -f "$SANITIZED/CTestTestfile.cmake" ] && [ -x "$SANITIZED/kqtests" ]; then
    beside sanitizer_checks
else
    skip "native tests under the sanitizers (ctest)" "no kqtests from the sanitizer build"
fi

section "Windows build" build_windows
if [ -f "$WINDOWS/KQVorlink.exe" ]; then
    beside windows_checks
else
    skip "Windows archive" "no KQVorlink.exe"
    skip "Windows tests and end-to-end tests (Wine)" "no KQVorlink.exe"
fi

section "fuzzing (libFuzzer, clang)" run_fuzz

for checks in "${BESIDE[@]}"; do
    finish "$checks"
done

cpu=$(($(children_cpu $$) + BESIDE_CPU))
printf '\n==== summary (%d s, cpu %d.%02d s) ====\n' $(($(date +%s) - TOTAL_START)) $((cpu / 100)) \
    $((cpu % 100))
if [ ${#FAILED[@]} -gt 0 ]; then
    printf 'failed sections: %s\n' "$(IFS=,; echo "${FAILED[*]}")"
    # A failed build counts as one failure even when it ran no test.
    [ "$FAILED_COUNT" -gt 0 ] || FAILED_COUNT=1
fi
echo "total: $PASSED_COUNT passed, $FAILED_COUNT failed"
[ ${#FAILED[@]} -eq 0 ] && [ "$FAILED_COUNT" -eq 0 ]
