#!/usr/bin/env bash
# Demo: a real update of a simulated unit with the Windows program under Wine.
#
#   bash sim/demo.sh
#
# Builds what it runs (kqunit natively, KQVorlink.exe and the window driver with the cross
# compiler), writes a sample update set with every component, starts kqunit on 127.0.0.50 and
# then either
#   - with a display of this machine (DISPLAY=:0 and answering): opens the program's window;
#     type 127, 0, 0 and 50 into the four address fields (three digits move on to the next
#     field; Tab moves as well) and press Update; or
#   - without one: drives the window itself in a virtual display and prints the outcome, the
#     activity log and what the unit received.
# A display reached over TCP (DISPLAY=localhost:10.0, as X forwarding sets it) cannot be reached
# from the demo's network namespace: the demo says so at once and stops.
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

source "$ROOT/sim/demo_display.sh"
CHOICE=$(demo_display_choice "${DISPLAY:-}" "${KQ_DEMO_HEADLESS:-0}")
if [ "$CHOICE" = refuse ]; then
    cat >&2 <<END
The demo cannot open the program's window on DISPLAY=$DISPLAY.
That display is reached over TCP (as X forwarding sets it up), and the demo runs the program in
a network namespace that has only its own loopback, from where $DISPLAY cannot be reached.
Either run the demo headless: it drives the window in a virtual display and prints each step,
the outcome, the activity log and what the unit received:

    KQ_DEMO_HEADLESS=1 bash sim/demo.sh

or run it on a display of this machine (DISPLAY=:0, for example in a desktop or VNC session).
END
    exit 2
fi

bash "$ROOT/tests/install_packages.sh"

# Only what the demo runs: no test programs, no GoogleTest.
echo "== building kqunit"
cmake -S "$ROOT" -B "$NATIVE" -DCMAKE_BUILD_TYPE=Debug >/dev/null
cmake --build "$NATIVE" --target kqunit -j2
echo "== building KQVorlink.exe and the window driver"
cmake -S "$ROOT" -B "$WINDOWS" -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-i686.cmake" \
    -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$WINDOWS" --target KQVorlink kqdriver -j2

echo "== writing the sample update set"
rm -rf "$DEMO/set"
python3 "$ROOT/sim/make_sample_set.py" "$DEMO/set"
# The unit takes a moment to write each component, so that each step's number is seen blinking.
printf '%s\n' 'command "EXCM u_soft" delay 800 always' >"$DEMO/unit-scenario.txt"

if [ "$CHOICE" = window ] && ! xdotool getdisplaygeometry >/dev/null 2>&1; then
    echo "== display $DISPLAY does not answer: driving the window in a virtual display instead"
    CHOICE=headless
fi

# Hard-links the program's activity log whenever a new one appears, so that every entry is kept
# even when the program deletes the log after a successful run. Ends with the program (at most
# two hours).
keep_logs() {
    local folder="$1" last="" n=0 inode
    for _ in $(seq 36000); do
        [ -e "$DEMO/keeping-logs" ] || return 0
        inode=$(stat -c %i "$folder/KQVorlink.log" 2>/dev/null || true)
        if [ -n "$inode" ] && [ "$inode" != "$last" ] &&
            ln -f "$folder/KQVorlink.log" "$DEMO/kept-log-$((n + 1)).txt" 2>/dev/null; then
            n=$((n + 1))
            last=$inode
        fi
        sleep 0.2
    done
}

if [ "$CHOICE" = window ]; then
    echo "== starting kqunit and the program on display $DISPLAY"
    rm -rf "$DEMO/folder" "$DEMO/unit-store" "$DEMO"/kept-log-*.txt
    cp -r "$DEMO/set" "$DEMO/folder"
    cp "$WINDOWS/KQVorlink.exe" "$DEMO/folder/"
    touch "$DEMO/keeping-logs"
    keep_logs "$DEMO/folder" &
    keeper=$!
    export WINEPREFIX="$DEMO/wineprefix" WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml="
    # Runs inside the namespace: loopback up, the unit in the background, the program in front.
    inner='
        ip link set lo up
        wineserver -k 2>/dev/null || true
        [ -f "$WINEPREFIX/system.reg" ] || { echo "creating the Wine prefix (once)"; wineboot -i; }
        "$1" --address "$2" --store "$3" --idle-timeout-s 900 --scenario "$6" >"$4" 2>&1 &
        unit=$!
        echo
        echo "  The unit serves on $2. Type 127, 0, 0 and 50 into the four address fields"
        echo "  (three digits move on to the next field; Tab moves as well) and press Update."
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
    rm -f "$DEMO/keeping-logs"
    wait "$keeper" || true
    echo "== what the unit received (also in $DEMO/unit-output.txt)"
    grep -v '^kqunit:' "$DEMO/unit-output.txt" >"$DEMO/unit-commands.txt" || true
    python3 "$ROOT/sim/demo_log.py" --escape "$DEMO/unit-commands.txt"
    echo "== files the unit stored: $(ls "$DEMO/unit-store" 2>/dev/null | wc -l)"
    kept=()
    while [ -e "$DEMO/kept-log-$((${#kept[@]} + 1)).txt" ]; do
        kept+=("$DEMO/kept-log-$((${#kept[@]} + 1)).txt")
    done
    python3 "$ROOT/sim/demo_log.py" --folder "$DEMO/folder" "${kept[@]}"
else
    echo "== driving the window in a virtual display"
    python3 "$ROOT/tests/e2e/demo_run.py" --build "$WINDOWS" --kqunit "$NATIVE/kqunit" \
        --set "$DEMO/set" --address "$ADDRESS" --work "$DEMO" --unit-scenario "$DEMO/unit-scenario.txt"
fi
