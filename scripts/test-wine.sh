#!/usr/bin/env bash
# Runs the Windows test executables of the x86_64 cross-build (build-win64) under wine64 as a
# Russian user, with CTest, on a virtual X display; the FTP tests reach their local servers
# through the server bridge. Then lets the Windows tool update itself from a local server
# (tests/update/wine_update.sh), runs its command line on the demo installation
# (scripts/wine-cli.sh), starts it there and saves screenshots
# (scripts/wine-demo.sh). CTest's summary is the last test line.
#
# Usage: scripts/test-wine.sh [CTEST_ARGS...]   With arguments (e.g. -R EngineContract) CTest
# runs only the tests they select, and the tool is not started. ZELK_REQUIRE_JET=1 in the
# environment makes the Jet cases fail rather than skip (Wine has no Jet).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
[[ -f build-win64/CTestTestfile.cmake ]] || { echo "test-wine: run scripts/build-windows.sh first" >&2; exit 1; }
bash scripts/wine-prefix.sh
export WINEPREFIX=$root/build-win64/wineprefix WINEDEBUG=-all
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8

pids=()
cleanup() {
    wineserver -k 2>/dev/null || true
    for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
}
trap cleanup EXIT

for n in $(seq 100 139); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
pids+=($!)
export DISPLAY=$display

bridge_out=$(mktemp)
/usr/bin/python3 tests/update/server_bridge.py >"$bridge_out" 2>/dev/null &
pids+=($!)
for _ in $(seq 100); do [[ -s $bridge_out ]] && break; sleep 0.1; done
ZELK_SERVER_BRIDGE=$(head -n1 "$bridge_out")
export ZELK_SERVER_BRIDGE
rm -f "$bridge_out"

# One Wine session for the whole run: its server and background services start here, with
# no pipes of CTest's open (else CTest would wait for them to close the test's output).
wineserver -p 2>/dev/null || true
"$root/scripts/wine-run.sh" cmd /c exit </dev/null >/dev/null 2>&1
status=0
(cd build-win64 && ctest --output-on-failure -j"$(nproc)" --timeout 300 "$@") || status=$?
[[ $# -eq 0 ]] || exit $status

wineserver -k 2>/dev/null || true
echo "== the Windows tool updates itself under Wine"
bash tests/update/wine_update.sh build-win64/wine-update || status=1
wineserver -k 2>/dev/null || true
echo "== the Windows tool's command line under Wine on the demo installation"
bash scripts/wine-cli.sh build-win64/wine-cli || status=1
wineserver -k 2>/dev/null || true
echo "== the Windows tool under Wine on the demo installation"
bash scripts/wine-demo.sh build-win64/wine-demo || status=1
exit $status
