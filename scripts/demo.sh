#!/usr/bin/env bash
# A demo of the tool on a simulated AutoCAD Electrical 2017 (Russian) installation, or on one of
# another release with --release.
#
#   bash scripts/demo.sh [DEMO_DIR] [--tour] [--release YEAR]
#
# 1. Builds the tool and its sample data package in build-demo/ (configured so that the
#    start-up check never leaves this machine: the probe and the update server are 127.0.0.1,
#    so the status bar shows the no-connection text at once).
# 2. Lays out DEMO_DIR (default ./demo), fresh on every run:
#      USERPROFILE/   the roaming profile (AppData/Roaming/Autodesk/AutoCAD Electrical 2017/
#                     R21.0/rus/Support with Profiles, Images and the icon menu files
#                     ACE_IEC_MENU.DAT, ACE_IEC-60617_MENU.DAT) and the default catalog
#                     Documents/Acade 2017/AeData/ru-RU/Catalogs/default_cat.mdb
#      PUBLIC/        the symbol library Documents/Autodesk/Acade 2017/Libs/iec2
#      tool/          the executable with its data package (ZELK_install.mdb, data/) beside it
#    --release YEAR lays out that release instead of 2017 (any year from 2016 to 2026: the
#    roaming folder AutoCAD Electrical YEAR with its release folder, R25.0 for 2025, and the
#    folders Acade YEAR).
# 3. Starts the tool from DEMO_DIR/tool with USERPROFILE and PUBLIC pointing into DEMO_DIR and
#    writes a screenshot of its window to DEMO_DIR/screenshot.png. Without a display it runs
#    under Xvfb and closes the tool after the screenshot; with a display it leaves the tool open.
#
# --tour (needs xdotool) also presses ">>", "Установить" and, after the message, "Почистить",
# and writes screenshot-install.png and screenshot-clean.png beside screenshot.png.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
demo=./demo
tour=0
release=2017
while (($#)); do
    case "$1" in
        --tour) tour=1 ;;
        --release)
            [[ ${2:-} =~ ^20(1[6-9]|2[0-6])$ ]] ||
                { echo "--release needs a year from 2016 to 2026" >&2; exit 2; }
            release=$2
            shift ;;
        -h|--help) sed -n '2,25p' "$0"; exit 0 ;;
        -*) echo "unknown option: $1" >&2; exit 2 ;;
        *) demo=$1 ;;
    esac
    shift
done
build=${ZELK_DEMO_BUILD:-$root/build-demo}
marker=.zelk-demo

# ---- 1. build (the packages it needs first; quick when they are in place)
bash "$root/scripts/setup-deps.sh"
# The demo build never talks to the network: both hosts are the loopback address.
offline() {
    grep -q '^ZELK_PROBE_HOST:STRING=127.0.0.1$' "$build/CMakeCache.txt" 2>/dev/null &&
        grep -q '^ZELK_UPDATE_HOST:STRING=127.0.0.1$' "$build/CMakeCache.txt"
}
if [[ ! -f $build/CMakeCache.txt ]]; then
    cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=OFF \
        -DZELK_PROBE_HOST=127.0.0.1 -DZELK_UPDATE_HOST=127.0.0.1 >/dev/null
elif ! offline; then
    cmake -S "$root" -B "$build" -DZELK_PROBE_HOST=127.0.0.1 -DZELK_UPDATE_HOST=127.0.0.1 >/dev/null
fi
offline || { echo "$build is not configured for the offline demo" >&2; exit 1; }
cmake --build "$build" --target zelk_installer zelk_datagen zelk_data_package -j"$(nproc)" >/dev/null
exe=
# (a build other than a release names its executable "...-test")
for f in "$build/ZELK_AE_install-test" "$build/ZELK_AE_install-test.exe"; do
    [[ -x $f ]] && { exe=$f; break; }
done
[[ -n $exe ]] || { echo "the tool was not built in $build" >&2; exit 1; }

# ---- 2. scratch folder: only one this script made (or an empty one) is wiped
if [[ -e $demo ]]; then
    if [[ -f $demo/$marker ]]; then
        rm -rf -- "$demo"
    elif [[ -d $demo && -z $(ls -A -- "$demo") ]]; then
        rmdir -- "$demo"
    else
        echo "$demo exists and was not made by this script; choose another folder" >&2
        exit 1
    fi
fi
mkdir -p -- "$demo"
demo=$(cd "$demo" && pwd)
touch "$demo/$marker"

"$build/zelk_datagen" --demo-profile "$root/data-src" "$demo" --release "$release"
mkdir -p "$demo/tool"
cp -- "$exe" "$demo/tool/"
cp -R -- "$build/package/." "$demo/tool/"

echo "release:       AutoCAD Electrical $release"
echo "demo profile:  $demo/USERPROFILE"
echo "public folder: $demo/PUBLIC"
echo "tool folder:   $demo/tool"

# ---- 3. run
export USERPROFILE=$demo/USERPROFILE PUBLIC=$demo/PUBLIC
export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
unset QT_QPA_PLATFORM
if [[ -z ${XDG_RUNTIME_DIR:-} ]]; then
    export XDG_RUNTIME_DIR=$demo/.runtime
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
fi

xvfb_pid=
tool_pid=
cleanup() {
    if [[ -n $xvfb_pid ]]; then
        [[ -n $tool_pid ]] && kill "$tool_pid" 2>/dev/null || true
        kill "$xvfb_pid" 2>/dev/null || true
    fi
}
trap cleanup EXIT

if [[ -z ${DISPLAY:-} ]]; then
    for n in $(seq 90 130); do
        [[ -e /tmp/.X$n-lock || -e /tmp/.X11-unix/X$n ]] || { display=:$n; break; }
    done
    Xvfb "$display" -screen 0 900x720x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    export DISPLAY=$display
    for _ in $(seq 50); do xwininfo -root >/dev/null 2>&1 && break; sleep 0.1; done
fi

(cd "$demo/tool" && exec "./$(basename "$exe")") &
tool_pid=$!

# The main window, found by its caption.
window=
for _ in $(seq 100); do
    window=$(xwininfo -root -tree 2>/dev/null | awk '/AutoCAD Electrical/ {print $1; exit}') || true
    [[ -n $window ]] && break
    kill -0 "$tool_pid" 2>/dev/null || { echo "the tool ended before its window showed" >&2; exit 1; }
    sleep 0.1
done
[[ -n $window ]] || { echo "the tool's window did not show" >&2; exit 1; }
sleep 0.7

shot() { import -window "$window" "$1"; }
# The screen cut to the main window's place: the window with any message box over it.
shot_screen() {
    local geometry
    geometry=$(xwininfo -id "$window" | awk '/Absolute upper-left X/ {x=$4}
        /Absolute upper-left Y/ {y=$4} /Width:/ {w=$2} /Height:/ {h=$2}
        END {printf "%dx%d+%d+%d", w, h, x, y}')
    import -window root -crop "$geometry" +repage "$1"
}

shot "$demo/screenshot.png"
echo "screenshot:    $demo/screenshot.png"

if [[ $tour == 1 ]]; then
    command -v xdotool >/dev/null || { echo "--tour needs xdotool" >&2; exit 1; }
    click() { xdotool mousemove --window "$window" "$1" "$2" click 1; sleep 0.4; }
    click 341 323                 # ">>": every group to the right
    click 482 561                 # "Установить"
    sleep 1.5
    shot_screen "$demo/screenshot-install.png"
    xdotool key Return; sleep 0.5
    click 615 561                 # "Почистить"
    sleep 1.5
    shot_screen "$demo/screenshot-clean.png"
    xdotool key Return; sleep 0.3
    echo "screenshots:   $demo/screenshot-install.png $demo/screenshot-clean.png"
fi

if [[ -z $xvfb_pid ]]; then
    echo "the tool is running (pid $tool_pid); close its window to end the demo"
    trap - EXIT
fi
