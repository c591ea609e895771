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
exe=$root/build-win64/ZELK_AE_install-test.exe
# The data generator of this machine: the one named, or one already built.
datagen=${ZELK_HOST_DATAGEN:-}
for d in "$root/build-host/zelk_datagen" "$root/build/zelk_datagen"; do
    [[ -z $datagen && -x $d ]] && datagen=$d
done
[[ -f $exe && -x $datagen ]] || { echo "wine-demo: run scripts/build-windows.sh x86_64 first" >&2; exit 1; }
bash "$root/scripts/wine-prefix.sh"

rm -rf -- "$out"
mkdir -p "$out"
"$datagen" --demo-profile "$root/data-src" "$out/demo" >/dev/null
mkdir -p "$out/demo/tool"
cp -- "$exe" "$out/demo/tool/"
cp -R -- "$root/build-win64/package/." "$out/demo/tool/"

for n in $(seq 140 180); do
    [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { display=:$n; break; }
done
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
export DISPLAY=$display
cleanup() {
    WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix} wineserver -k 2>/dev/null || true
    kill "$xvfb_pid" 2>/dev/null || true
}
trap cleanup EXIT
for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done

win() { winepath -w "$1" 2>/dev/null; }
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix}
USERPROFILE=$(WINEDEBUG=-all win "$out/demo/USERPROFILE")
PUBLIC=$(WINEDEBUG=-all win "$out/demo/PUBLIC")
export USERPROFILE PUBLIC
export QT_QPA_PLATFORM=${ZELK_WINE_QPA:-windows}
# Wine sets USERPROFILE and PUBLIC from its own profile; the command interpreter hands the
# demo's on to the tool.
(cd "$out/demo/tool" &&
    exec "$root/scripts/wine-run.sh" explorer /desktop=zelk,1000x740 cmd /c \
        "set USERPROFILE=$USERPROFILE&& set PUBLIC=$PUBLIC&& ZELK_AE_install-test.exe") \
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
