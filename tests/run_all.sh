#!/usr/bin/env bash
# The project's test command. Installs what is missing, builds the native code and runs its
# test suite, builds the Windows program, its backend tests and the window driver, and runs
# those tests and the end-to-end tests of the Windows program under Wine. Exits non-zero when
# anything fails.
#
#   bash tests/run_all.sh
#
# Build folders: build/native, build/sanitized, build/fuzz, build/release and build/windows (the Wine prefix of the end-to-end tests lives
# in build/windows/wineprefix); KQ_BUILD_ROOT moves them elsewhere.
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
JOBS=2
# The suites wait on scaled time far more than they compute, and every test that starts a
# simulated unit has an address of its own: four at once pass on two loaded cores.
TEST_JOBS=4
BUILD="${KQ_BUILD_ROOT:-$ROOT/build}"
NATIVE="$BUILD/native"
SANITIZED="$BUILD/sanitized"
WINDOWS="$BUILD/windows"

FAILED=()
PASSED_COUNT=0
FAILED_COUNT=0
TOTAL_START=$(date +%s)

# The processor time of this shell's finished children (user and system), in centiseconds: on a
# machine shared with other work it compares runs better than the wall clock does.
children_cpu() {
    # Fields 16 and 17 of /proc/PID/stat, after the program name in parentheses; ticks of 1/100 s.
    local fields
    read -ra fields <<<"$(sed -E 's/^.*\) //' "/proc/$$/stat")"
    echo $((fields[13] + fields[14]))
}

# Runs one section: a header, the commands, its outcome and how long it took (wall and processor).
section() {
    local name="$1"
    shift
    local start cpu outcome=ok status=0
    start=$(date +%s)
    cpu=$(children_cpu)
    printf '\n==== %s ====\n' "$name"
    "$@" || { outcome=FAILED status=1; FAILED+=("$name"); }
    cpu=$(($(children_cpu) - cpu))
    printf -- '---- %s: %s (%d s, cpu %d.%02d s)\n' "$name" "$outcome" $(($(date +%s) - start)) \
        $((cpu / 100)) $((cpu % 100))
    return "$status"
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
build_native() {
    rm -f "$NATIVE/kqunit" "$NATIVE/kqtests"
    cmake -S "$ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Debug &&
        cmake --build "$NATIVE" -j"$JOBS" -- -k
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
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build_sanitized() {
    rm -f "$SANITIZED/kqtests"
    cmake -S "$ROOT" -B "$SANITIZED" -DCMAKE_BUILD_TYPE=Debug -DKQ_SANITIZE=ON &&
        cmake --build "$SANITIZED" -j"$JOBS" --target kqtests kqunit kqvorlink-cli kqvorlink-cli-scaled -- -k
}

build_windows() {
    rm -f "$WINDOWS/KQVorlink.exe" "$WINDOWS/kqdriver.exe" "$WINDOWS/kqwintests.exe" \
        "$WINDOWS/kqvorlink-cli.exe"
    cmake -S "$ROOT" -B "$WINDOWS" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
        -DCMAKE_BUILD_TYPE=Release &&
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
        --kqunit "$NATIVE/kqunit" "${gtests[@]}" 2>&1 | tee "$out"
    local status=${PIPESTATUS[0]}
    count_e2e "$out"
    return "$status"
}

section "packages" bash "$ROOT/tests/install_packages.sh"

section "native build" build_native
if [ -f "$NATIVE/CTestTestfile.cmake" ] && [ -x "$NATIVE/kqtests" ]; then
    section "native tests (ctest)" run_ctest "$NATIVE"
else
    skip "native tests (ctest)" "no kqtests from the native build"
fi

section "sanitizer build (address, undefined)" build_sanitized
if [ -f "$SANITIZED/CTestTestfile.cmake" ] && [ -x "$SANITIZED/kqtests" ]; then
    section "native tests under the sanitizers (ctest)" run_ctest "$SANITIZED"
else
    skip "native tests under the sanitizers (ctest)" "no kqtests from the sanitizer build"
fi

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
section "fuzzing (libFuzzer, clang)" run_fuzz

# The Debian package (Release build of its two programs, lintian, both programs run from the
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
section "Debian package" run_package_test deb "$BUILD/release"

# The multi-site rehearsal: three site hosts in namespaces of their own, updated by the Ansible
# collection over SSH; the site hosts install the Debian package built just above.
run_sites() {
    local out="$NATIVE/sites-output.txt" deb
    deb=$(ls "$BUILD"/release/kqvorlink_*_amd64.deb 2>/dev/null | head -1)
    if [ -z "$deb" ]; then
        echo "no $BUILD/release/kqvorlink_*_amd64.deb" | tee "$out"
        echo "0 passed, 1 failed" | tee -a "$out"
    else
        timeout 600 unshare -n /usr/bin/python3 "$ROOT/tests/sites/rehearsal.py" --deb "$deb" \
            --kqunit "$NATIVE/kqunit" 2>&1 | tee "$out"
    fi
    count_e2e "$out"
    grep -qE '^[0-9]+ passed, 0 failed$' "$out"
}
if [ -x "$NATIVE/kqunit" ]; then
    section "multi-site rehearsal (Ansible)" run_sites
else
    skip "multi-site rehearsal (Ansible)" "no kqunit from the native build"
fi

section "Windows build" build_windows
if [ -f "$WINDOWS/KQVorlink.exe" ] && [ -f "$WINDOWS/kqvorlink-cli.exe" ]; then
    section "Windows archive" run_package_test zip "$WINDOWS"
else
    skip "Windows archive" "no KQVorlink.exe or kqvorlink-cli.exe"
fi
if [ ! -x "$NATIVE/kqunit" ]; then
    skip "Windows tests and end-to-end tests (Wine)" "no kqunit from the native build"
elif [ ! -f "$WINDOWS/KQVorlink.exe" ] || [ ! -f "$WINDOWS/kqdriver.exe" ]; then
    skip "Windows tests and end-to-end tests (Wine)" "no KQVorlink.exe or kqdriver.exe"
else
    section "Windows tests and end-to-end tests (Wine)" run_e2e
fi

printf '\n==== summary (%d s) ====\n' $(($(date +%s) - TOTAL_START))
if [ ${#FAILED[@]} -gt 0 ]; then
    printf 'failed sections: %s\n' "$(IFS=,; echo "${FAILED[*]}")"
    # A failed build counts as one failure even when it ran no test.
    [ "$FAILED_COUNT" -gt 0 ] || FAILED_COUNT=1
fi
echo "total: $PASSED_COUNT passed, $FAILED_COUNT failed"
[ ${#FAILED[@]} -eq 0 ] && [ "$FAILED_COUNT" -eq 0 ]
