#!/usr/bin/env bash
# The real window's start-up against a name server that never answers: the window appears
# within the start-up's 15-second limit, the status bar saying there is no connection.
#
#   bash tests/update/window_silent_dns.sh [BUILD_DIR] [SCREENSHOT.png]
#
# Builds the tool in BUILD_DIR (default build-window-dns/) with the probe and the update server
# named updates.zelk.test, and starts it under Xvfb in a mount namespace of its own whose
# /etc/resolv.conf names a name server on 127.0.0.61 that takes every query and answers none
# (the system's resolver is told to wait 30 s for it). Needs root (the namespace, port 53),
# unshare, Xvfb, xwininfo, xdotool and ImageMagick's import.
set -euo pipefail

root=$(cd "$(dirname "$0")/../.." && pwd)
build=$(realpath -m -- "${1:-$root/build-window-dns}")
shot=$(realpath -m -- "${2:-$build/silent-dns.png}")
name=updates.zelk.test
ns=127.0.0.61
mkdir -p "$(dirname "$shot")"

source "$root/tests/update/window_support.sh"
scratch
build_tool "$build" $name

fail() { echo "FAIL: $*"; exit 1; }
now_ms() { echo $(($(date +%s%N) / 1000000)); }

# The name server: it counts the queries and answers none.
python3 -c '
import socket, sys
s = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
s.bind((sys.argv[1], 53))
print("ready", flush=True)
while True:
    s.recvfrom(4096)
    print("query", flush=True)
' $ns >"$work/ns.log" &
pids+=($!)
for _ in $(seq 50); do [[ -s $work/ns.log ]] && break; sleep 0.1; done
grep -q ready "$work/ns.log" || fail "no name server on $ns:53"
printf 'nameserver %s\noptions timeout:30 attempts:1\n' $ns >"$work/resolv.conf"

"$build/zelk_datagen" --demo-profile "$root/data-src" "$work" >/dev/null
mkdir -p "$work/tool"
cp -- "$build/ZELK_AE_install-test" "$work/tool/"
cp -R -- "$build/package/." "$work/tool/"
start_display "$work"

started=$(now_ms)
unshare -m sh -c 'mount --bind "$1" /etc/resolv.conf && cd "$2" && exec ./ZELK_AE_install-test' \
    sh "$work/resolv.conf" "$work/tool" >"$work/tool.log" 2>&1 &
pids+=($!)
window=
while :; do
    for id in $(xdotool search --name 'ЗЕЛК' 2>/dev/null); do
        xwininfo -id "$id" 2>/dev/null | grep -q IsViewable && { window=$id; break 2; }
    done
    (($(now_ms) - started > 40000)) && break
    sleep 0.1
done
shown=$(($(now_ms) - started))
sleep 0.5
import -window root "$shot"
[[ -n $window ]] || fail "no window 40 s after the start; screen: $shot"
grep -q query "$work/ns.log" || fail "the name server was never asked"
# The start-up's limit, and what discovery and the first paint take after it.
((shown <= 17000)) || fail "the window appeared $shown ms after the start"
echo "ok: against a name server that never answers the window appeared $shown ms after the" \
    "start; screen: $shot"
