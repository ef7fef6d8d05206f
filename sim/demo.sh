#!/usr/bin/env bash
# Demo: a real update of a simulated unit with the Windows program under Wine.
#
#   bash sim/demo.sh
#
# Builds what it needs (kqunit natively, KQVorlink.exe and the window driver with the cross
# compiler), writes a sample update set with every component, starts kqunit on 127.0.0.50 and
# then either
#   - with a display (DISPLAY set and answering): opens the program's window; type 127.0.0.50
#     into the four address fields and press Update; or
#   - without one: drives the window itself in a virtual display and prints the outcome, the
#     activity log and what the unit received.
# Set KQ_DEMO_HEADLESS=1 to drive the window even when a display is there; KQ_BUILD_ROOT moves
# the build folders (default build/).
# Everything runs in a network namespace that has only loopback, so nothing can leave the
# machine.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
cd "$ROOT"
ADDRESS=127.0.0.50
BUILD="${KQ_BUILD_ROOT:-$ROOT/build}"
NATIVE="$BUILD/native"
WINDOWS="$BUILD/windows"
DEMO="$BUILD/demo"

bash "$ROOT/tests/install_packages.sh"

echo "== building kqunit"
cmake -S "$ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$NATIVE" --target kqunit -j2
echo "== building KQVorlink.exe and the window driver"
cmake -S "$ROOT" -B "$WINDOWS" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$WINDOWS" -j2

echo "== writing the sample update set"
rm -rf "$DEMO/set"
python3 "$ROOT/sim/make_sample_set.py" "$DEMO/set"
# The unit takes a moment to write each component, so that each step's number is seen blinking.
printf '%s\n' 'command "EXCM u_soft" delay 800 always' >"$DEMO/unit-scenario.txt"

display_answers() {
    [ -n "${DISPLAY:-}" ] && xdotool getdisplaygeometry >/dev/null 2>&1
}

if [ "${KQ_DEMO_HEADLESS:-0}" != 1 ] && display_answers; then
    echo "== starting kqunit and the program on display $DISPLAY"
    rm -rf "$DEMO/folder" "$DEMO/unit-store"
    cp -r "$DEMO/set" "$DEMO/folder"
    cp "$WINDOWS/KQVorlink.exe" "$DEMO/folder/"
    export WINEPREFIX="$DEMO/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Runs inside the namespace: loopback up, the unit in the background, the program in front.
    inner='
        ip link set lo up
        wineserver -k 2>/dev/null || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "creating the Wine prefix (once)"; wineboot -i; }
        "$1" --address "$2" --store "$3" --idle-timeout-s 900 --scenario "$6" >"$4" 2>&1 &
        unit=$!
        echo
        echo "  The unit serves on $2. Type $2 into the four address fields and press Update."
        echo "  The CPU program step waits one minute for the unit to restart; the whole run"
        echo "  takes about a minute and a half. Exit ends the demo."
        echo
        (cd "$5" && wine KQVorlink.exe) || true
        kill "$unit" 2>/dev/null || true
        wait "$unit" 2>/dev/null || true
        wineserver -k 2>/dev/null || true
    '
    unshare --net -- bash -c "$inner" demo "$NATIVE/kqunit" "$ADDRESS" "$DEMO/unit-store" \
        "$DEMO/unit-output.txt" "$DEMO/folder" "$DEMO/unit-scenario.txt"
    echo "== what the unit received (also in $DEMO/unit-output.txt)"
    grep -v '^kqunit:' "$DEMO/unit-output.txt" || true
    echo "== files the unit stored: $(ls "$DEMO/unit-store" 2>/dev/null | wc -l)"
    if [ -f "$DEMO/folder/KQVorlink.log" ]; then
        echo "== activity log of the failed run"
        tr -d '\r' <"$DEMO/folder/KQVorlink.log"
    fi
else
    echo "== no display: driving the window in a virtual display"
    python3 "$ROOT/tests/e2e/demo_run.py" --build "$WINDOWS" --kqunit "$NATIVE/kqunit" \
        --set "$DEMO/set" --address "$ADDRESS" --work "$DEMO" --unit-scenario "$DEMO/unit-scenario.txt"
fi
