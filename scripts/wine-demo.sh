#!/usr/bin/env bash
# Starts the Windows build of the tool (build-win64, x86_64) under wine64 on the demo
# installation, on a virtual X display inside a Wine desktop (so the window has Windows' title
# bar), as a Russian user, and saves screenshots:
#   OUT/wine-start.png   the first thing the tool shows (a message box, if start-up raised one)
#   OUT/wine-window.png  the main window once every start-up box is answered
# Usage: scripts/wine-demo.sh [OUT]   (default build-win64/wine-demo)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=$(realpath -m -- "${1:-$root/build-win64/wine-demo}")
source "$root/scripts/wine-layout.sh"
wine_layout wine-demo "$out"

for n in $(seq 140 180); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

USERPROFILE=$(WINEDEBUG=-all win "$out/demo/USERPROFILE")
PUBLIC=$(WINEDEBUG=-all win "$out/demo/PUBLIC")
export USERPROFILE PUBLIC
export QT_QPA_PLATFORM=${ZELK_WINE_QPA:-windows}
# Wine sets USERPROFILE and PUBLIC from its own profile; the command interpreter hands the
# demo's on to the tool.
(cd "$tool" &&
    exec "$root/scripts/wine-run.sh" explorer /desktop=zelk,1000x740 cmd /c \
        "set USERPROFILE=$USERPROFILE&& set PUBLIC=$PUBLIC&& $name") \
    >"$out/tool.log" 2>&1 &

# The first window the tool shows.
shown=
for _ in $(seq 300); do
    if xwininfo -root -tree 2>/dev/null | grep -q '"zelk'; then shown=1; break; fi
    sleep 0.1
done
[[ -n $shown ]] || { echo "wine-demo: no Wine desktop appeared" >&2; exit 1; }
sleep 8
import -window root "$out/wine-start.png"
# Answer start-up boxes (Enter presses their OK button) until the main window stands alone.
for _ in 1 2 3; do
    xdotool key Return 2>/dev/null || true
    sleep 2
done
import -window root "$out/wine-window.png"
echo "wine-demo: screenshots in $out"
