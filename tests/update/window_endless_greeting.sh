#!/usr/bin/env bash
# The real window against an update server whose greeting never ends.
#
#   bash tests/update/window_endless_greeting.sh [BUILD_DIR] [SCREENSHOT.png]
#
# Builds the tool in BUILD_DIR (default build-window-check/, configured with the probe and the
# update server on 127.0.0.1), lays out a scratch installation with the data package, serves
# the probe on 127.0.0.1:80 and, on 127.0.0.1:2121, a server that answers the login with a
# multi-line greeting "220-..." that never ends (a line every half second). The tool is
# started under Xvfb; its window must show within the probe's limit, the connect limit and
# the read limit plus one second (1 + 1 + 5 + 1 = 8 s). The screenshot shows the status text.
# Needs root (ports 80 and 2121), Xvfb, xwininfo and ImageMagick's import.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m -- "${1:-$root/build-window-check}")
shot=$(realpath -m -- "${2:-$build/endless-greeting.png}")
bound_ms=8000

source "$root/tests/update/window_support.sh"
scratch
build_tool "$build" 127.0.0.1


"$build/zelk_datagen" --demo-profile "$root/data-src" "$work" >/dev/null
mkdir -p "$work/tool"
cp -- "$build/ZELK_AE_install-test" "$work/tool/"
cp -R -- "$build/package/." "$work/tool/"

# The probe's web server: the connect is all it is asked for.
python3 -c '
import socket, time
s = socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1", 80)); s.listen(8); print("80", flush=True); time.sleep(120)' \
    >"$work/probe.log" &
pids+=($!)
python3 "$root/tests/update/ftp_script_server.py" \
    '{"port": 2121, "greeting": "220-Welcome\nSTREAM:0.5:220-more"}' >"$work/server.log" &
pids+=($!)
for _ in $(seq 50); do
    [[ -s $work/probe.log && -s $work/server.log ]] && break
    sleep 0.1
done
[[ -s $work/probe.log && -s $work/server.log ]] || { echo "ports 80 or 2121 not free" >&2; exit 1; }

start_display "$work"

start=$(date +%s%N)
(cd "$work/tool" && exec ./ZELK_AE_install-test) >"$work/tool.log" 2>&1 &
tool=$!
pids+=("$tool")
shown_ms=
while :; do
    now_ms=$((($(date +%s%N) - start) / 1000000))
    for id in $(xwininfo -root -tree 2>/dev/null | grep 'ЗЕЛК' | awk '{print $1}'); do
        if xwininfo -id "$id" 2>/dev/null | grep -q IsViewable; then shown_ms=$now_ms; fi
    done
    [[ -n $shown_ms ]] && break
    kill -0 "$tool" 2>/dev/null || { echo "the tool ended early" >&2; cat "$work/tool.log" >&2; exit 1; }
    ((now_ms > 3 * bound_ms)) && break
    sleep 0.05
done
sleep 0.7
import -window root "$shot"
if [[ -z $shown_ms ]]; then
    echo "FAIL: the window did not show within $((3 * bound_ms)) ms; screen: $shot"
    exit 1
fi
if ((shown_ms > bound_ms)); then
    echo "FAIL: the window showed after $shown_ms ms (bound $bound_ms ms); screen: $shot"
    exit 1
fi
echo "ok: the window showed after $shown_ms ms (bound $bound_ms ms); screen: $shot"
