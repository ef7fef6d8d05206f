#!/usr/bin/env bash
# shellcheck disable=SC2034 # the tables of rows are reached by name
# Builds and checks the packages as a site host or a service laptop receives them; each row of a
# table is one test, the closing line "N passed, M failed".
#   bash tests/package_test.sh deb|zip BUILD_DIR   (zip: after the Windows build)
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
KIND="${1:-}"
BUILD="${2:-}"
[[ "$KIND" =~ ^(deb|zip)$ && -n "$BUILD" ]] || { echo "usage: $0 deb|zip BUILD_DIR" >&2; exit 2; }
# The version as version/version.h states it ("2, 0, 0, 0" -> 2.0.0.0), read here on its own so
# that a build which takes it from elsewhere is caught.
VERSION=$(sed -nE 's/^#define KQ_FILE_VERSION_TEXT "(.*)"/\1/p' "$ROOT/version/version.h" |
    tr -d ' ' | tr , .)
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT
PASSED=0
FAILED=0

# Runs the rows "name|command args": a row passes when its command succeeds.
run_rows() {
    local row name out
    for row in "$@"; do
        name="${row%%|*}"
        if out=$(eval "${row#*|}" 2>&1); then
            echo "ok      $name"
            PASSED=$((PASSED + 1))
        else
            echo "FAILED  $name"
            sed 's/^/        /' <<<"$out" | tail -25
            FAILED=$((FAILED + 1))
        fi
    done
}

# Fails with the listing when the sorted lines of $1 are not those of the rest.
same_list() {
    diff <(printf '%s\n' "${@:2}" | sort) <(sort <<<"$1")
}

# The Debian package: a Release build of its programs, unpacked as a site host has it. A new
# build folder gets the programs only; one configured before (the test command's Release build,
# which has built them already) keeps its other settings and its tests.
DEB="$BUILD/kqvorlink_${VERSION}_amd64.deb"
UNPACKED="$WORK/root"

build_deb() {
    local options=()
    command -v ccache >/dev/null && options=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
    [ -f "$BUILD/CMakeCache.txt" ] || options+=(-DKQ_TESTS=OFF)
    rm -f "$BUILD"/kqvorlink_*.deb
    cmake -S "$ROOT" -B "$BUILD" -DCMAKE_BUILD_TYPE=Release "${options[@]}" &&
        cmake --build "$BUILD" -j2 &&
        (cd "$BUILD" && cpack -G DEB) &&
        dpkg-deb -x "$DEB" "$UNPACKED"
}

deb_contents() {
    same_list "$(dpkg-deb -c "$DEB" | awk '$1 !~ /^d/ {print $6}')" \
        ./usr/bin/kqvorlink-cli ./usr/bin/kqunit \
        ./usr/share/man/man1/kqvorlink-cli.1.gz ./usr/share/man/man1/kqunit.1.gz \
        ./usr/share/doc/kqvorlink/copyright ./usr/share/doc/kqvorlink/changelog.gz
}

deb_fields() {
    [ "$(dpkg-deb -f "$DEB" Package Version Architecture | tr '\n' ' ')" = \
        "Package: kqvorlink Version: $VERSION Architecture: amd64 " ] &&
        dpkg-deb -f "$DEB" Depends | grep -E 'libc6 \(>= [0-9.]+\)' &&
        zcat "$UNPACKED/usr/share/doc/kqvorlink/changelog.gz" | head -1 | grep -F "kqvorlink ($VERSION)"
}

version_is() { [ "$("$UNPACKED/usr/bin/$1" --version)" = "$1 $VERSION" ]; }
help_names_usage() { "$UNPACKED/usr/bin/$1" --help | grep -i "^usage: $1 "; }

# The page has its name line, the version in its footer and the option $2 from the help text.
man_renders() {
    local text
    text=$(MANWIDTH=80 man -l "$UNPACKED/usr/share/man/man1/$1.1.gz" 2>&1) &&
        grep -A1 '^NAME' <<<"$text" | grep -E "^ +$1 - " &&
        grep -E "^$1 $VERSION " <<<"$text" &&
        grep -E "^ +$2( |$)" <<<"$text"
}

# A check of a unit served by the packaged kqunit, inside a network namespace with only loopback.
packaged_check() {
    python3 "$ROOT/sim/make_sample_set.py" "$WORK/set" >/dev/null &&
        timeout 90 unshare -n bash -c '
            bin="$1/usr/bin"; work="$2"
            ip link set lo up || exit 1
            "$bin/kqunit" --address 127.0.12.1 --store "$work/store" --idle-timeout-s 60 \
                >"$work/unit.txt" 2>&1 &
            unit=$!
            for _ in $(seq 100); do
                (exec 3<>/dev/tcp/127.0.12.1/21) 2>/dev/null && break
                sleep 0.05
            done
            "$bin/kqvorlink-cli" check --set "$work/set" 127.0.12.1
            status=$?
            kill "$unit"
            wait "$unit"
            exit "$status"' _ "$UNPACKED" "$WORK" |
        tee /dev/stderr | grep -E '^127\.0\.12\.1 +model KQ-A2 \(matches the set\), version "KQ-A2\.01\.02\.45"'
}

DEB_ROWS=(
    "deb_holds_the_programs_their_pages_and_docs_only|deb_contents"
    "deb_named_versioned_with_computed_depends|deb_fields"
    "lintian_reports_no_error|lintian --fail-on error \"\$DEB\""
    "kqvorlink_cli_version_is_the_resource_version|version_is kqvorlink-cli"
    "kqunit_version_is_the_resource_version|version_is kqunit"
    "kqvorlink_cli_help|help_names_usage kqvorlink-cli"
    "kqunit_help|help_names_usage kqunit"
    "kqvorlink_cli_man_page_renders_with_command_options|man_renders kqvorlink-cli --keep-logs"
    "kqunit_man_page_renders_with_options|man_renders kqunit --idle-timeout-s"
    "packaged_cli_checks_packaged_kqunit_on_loopback|packaged_check"
)

ZIP="$BUILD/KQVorlink-${VERSION}-win32.zip"
TOP="KQVorlink-${VERSION}-win32"

build_zip() {
    rm -f "$BUILD"/KQVorlink-*-win32.zip
    (cd "$BUILD" && cpack -G ZIP) && unzip -q "$ZIP" -d "$WORK"
}

zip_contents() {
    same_list "$(unzip -Z1 "$ZIP" | grep -v '/$')" \
        "$TOP/KQVorlink.exe" "$TOP/kqvorlink-cli.exe" "$TOP/README.txt" "$TOP/SHA256SUMS"
}

zip_sums_verify() {
    (cd "$WORK/$TOP" && [ "$(wc -l <SHA256SUMS)" = 3 ] && sha256sum -c SHA256SUMS)
}

readme_for_notepad() {
    local readme="$WORK/$TOP/README.txt"
    grep -qF "KQVorlink $VERSION" "$readme" && ! grep -q $'[^\r]$' "$readme"
}

ZIP_ROWS=(
    "zip_holds_both_programs_readme_and_sums|zip_contents"
    "zip_sums_verify|zip_sums_verify"
    "zip_readme_names_version_with_crlf_lines|readme_for_notepad"
)

ROWS="${KIND^^}_ROWS[@]"
"build_$KIND" && run_rows "${!ROWS}" || FAILED=$((FAILED + 1))
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
