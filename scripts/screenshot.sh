#!/usr/bin/env bash
# Takes a screenshot of the tool's window on a virtual X display.
#
#   bash scripts/screenshot.sh <output.png> [NAME=value ...]
#
# Builds the tool if needed (in build-screenshot/, configured so that the start-up check stays
# on this machine), starts it from a scratch folder under Xvfb with LANG=ru_RU.UTF-8 and
# USERPROFILE and PUBLIC pointing at empty scratch folders (NAME=value arguments are added to
# its environment and may override them), waits for the window, writes the screenshot of the
# whole screen to <output.png> and closes the tool.
set -euo pipefail

if [[ $# -lt 1 || $1 == -h || $1 == --help ]]; then
    sed -n '2,11p' "$0"
    exit 2
fi
out=$(realpath -m -- "$1")
shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${ZELK_SCREENSHOT_BUILD:-$root/build-screenshot}

if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=OFF \
        -DZELK_PROBE_HOST=127.0.0.1 -DZELK_UPDATE_HOST=127.0.0.1 >/dev/null
fi
cmake --build "$build" --target zelk_installer -j"$(nproc)" >/dev/null

work=$(mktemp -d)
trap 'rm -rf -- "$work"' EXIT
mkdir -p "$work/tool" "$work/profile" "$work/public"
cp -- "$build/ZELK_AE_install-test" "$work/tool/"

cat >"$work/run.sh" <<'INNER'
set -euo pipefail
work=$1 out=$2
shift 2
cd "$work/tool"
env -u QT_QPA_PLATFORM LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8 \
    USERPROFILE="$work/profile" PUBLIC="$work/public" "$@" ./ZELK_AE_install-test \
    >"$work/tool.log" 2>&1 &
tool=$!
shown() {
    if command -v xwininfo >/dev/null; then
        local id
        for id in $(xwininfo -root -tree 2>/dev/null | grep 'ЗЕЛК' | awk '{print $1}'); do
            xwininfo -id "$id" 2>/dev/null | grep -q 'IsViewable' && return 0
        done
        return 1
    else
        # The empty screen is black; the window's light background lifts the mean.
        [[ $(import -window root png:- 2>/dev/null | convert - -format '%[fx:mean>0.05]' info:) == 1 ]]
    fi
}
ok=0
for _ in $(seq 1 200); do
    kill -0 "$tool" 2>/dev/null || { cat "$work/tool.log" >&2; echo "the tool ended early" >&2; exit 1; }
    if shown; then ok=1; break; fi
    sleep 0.1
done
# A box that waits for an answer keeps the window from showing; the screen is taken anyway.
((ok)) || echo "the window did not show within 20 s; taking the screen as it is" >&2
sleep 1  # let the window finish painting
import -window root "$out"
kill "$tool" 2>/dev/null || true
wait "$tool" 2>/dev/null || true
INNER

xvfb-run -a -s "-screen 0 1024x768x24" bash "$work/run.sh" "$work" "$out" "$@"
echo "screenshot: $out"
