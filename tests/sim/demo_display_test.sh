#!/usr/bin/env bash
# The demo's choice of window for each kind of DISPLAY, and that the demo stops at once, saying
# what to do, when the display is reached over TCP (it could not open its window there).
set -uo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
source "$ROOT/sim/demo_display.sh"
failures=0

# DISPLAY | KQ_DEMO_HEADLESS | expected choice
while IFS='|' read -r display headless expected; do
    got=$(demo_display_choice "$display" "$headless")
    if [ "$got" != "$expected" ]; then
        echo "FAIL: DISPLAY='$display' KQ_DEMO_HEADLESS='$headless': got $got, expected $expected"
        failures=$((failures + 1))
    fi
done <<'TABLE'
:0|0|window
:0.0|0|window
:1|0|window
unix:0|0|window
myhost/unix:0|0|window
/private/tmp/com.apple.launchd.x/org.xquartz:0|0|window
localhost:10.0|0|refuse
127.0.0.1:10.0|0|refuse
remotehost:0|0|refuse
[::1]:10.0|0|refuse
||headless
|0|headless
localhost:10.0|1|headless
:0|1|headless
TABLE

# The whole demo with a forwarded display: stops before installing or building anything.
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
started=$(date +%s)
DISPLAY=localhost:10.0 KQ_DEMO_HEADLESS=0 KQ_BUILD_ROOT="$scratch/build" \
    timeout 60 bash "$ROOT/sim/demo.sh" >"$scratch/out.txt" 2>&1
status=$?
took=$(($(date +%s) - started))
if [ "$status" -ne 2 ] || [ "$took" -gt 10 ] || [ -e "$scratch/build" ] ||
    ! grep -q 'KQ_DEMO_HEADLESS=1 bash sim/demo.sh' "$scratch/out.txt" ||
    ! grep -q 'reached over TCP' "$scratch/out.txt"; then
    echo "FAIL: demo with DISPLAY=localhost:10.0: status $status after $took s; it said:"
    cat "$scratch/out.txt"
    failures=$((failures + 1))
fi

[ "$failures" -eq 0 ] && echo "demo display choice: all cases pass"
[ "$failures" -eq 0 ]
