#!/usr/bin/env bash
# Installs the Debian packages that building, testing and the demo need, when any is missing:
# the native tool chain, GoogleTest and libgcrypt (its Windows build too), clang for the fuzz
# targets, a terminal emulator, a JSON Schema validator and socket fault injection (fiu) for the
# fleet front end's tests (and the time zones and faketime for its windows and report times), the
# 32-bit Windows cross compiler, Wine with a virtual X display for running the Windows program, the tools that make and check the
# Debian package and the Windows archive, and Ansible, an SSH server and a browser for the
# multi-site rehearsal.
set -euo pipefail

NATIVE=(cmake g++ libgtest-dev libcli11-dev nlohmann-json3-dev curl netbase iproute2 python3
    util-linux clang python3-pyte python3-jsonschema faketime tzdata libgcrypt20-dev fiu-utils)
# The multi-site rehearsal and the collection's tests: Ansible, the site hosts' SSH servers, the
# proxy into each site, pytest, validate-modules' schema library, ansible-test's virtual env,
# headless Chromium driven by Selenium, which opens the fleet page, and Hypothesis for the
# page's property test.
SITES=(ansible-core openssh-server openssh-client netcat-openbsd python3-pytest
    python3-voluptuous python3-venv chromium chromium-driver python3-selenium python3-hypothesis)
WINDOWS=(g++-mingw-w64-i686 libgcrypt-mingw-w64-dev libgpg-error-mingw-w64-dev xvfb xdotool
    imagemagick)
PACKAGING=(dpkg-dev lintian help2man man-db zip unzip)
WINE=(wine wine32:i386)

missing() {
    local pkg
    for pkg in "$@"; do
        dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed' || echo "$pkg"
    done
}

as_root() {
    if [ "$(id -u)" = 0 ]; then "$@"; else sudo "$@"; fi
}

export DEBIAN_FRONTEND=noninteractive
need=($(missing "${NATIVE[@]}" "${WINDOWS[@]}" "${PACKAGING[@]}" "${SITES[@]}"))
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    as_root apt-get update
    as_root apt-get install -y "${need[@]}"
fi

need=($(missing "${WINE[@]}"))
if [ ${#need[@]} -gt 0 ]; then
    echo "installing: ${need[*]}"
    if ! dpkg --print-foreign-architectures | grep -qx i386; then
        as_root dpkg --add-architecture i386
    fi
    as_root apt-get update
    as_root apt-get install -y "${need[@]}"
fi
echo "packages: all present"
