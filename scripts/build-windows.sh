#!/usr/bin/env bash
# Cross-builds the tool for Windows on Debian with mingw-w64 against a static Qt:
#   build-win32/  the 32-bit release: ZELK_AE_install.exe and its ZIP with the data package
#   build-win64/  the 64-bit tool and the test executables (scripts/test-wine.sh runs them)
# The static Qt comes from .toolchains/ (unpacked from ../shared/toolchains/ when the prebuilt
# archives are there, otherwise built from Debian's source by scripts/build-qt-windows.sh).
# The data package is made on the build machine by a host build of the data generator.
#
# Usage: scripts/build-windows.sh [i686|x86_64|all]   (default: all)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
which=${1:-all}
jobs=$(nproc)
qt_dir=${ZELK_QT_DIR:-$root/.toolchains}
prebuilt=${ZELK_PREBUILT_QT:-$root/../shared/toolchains}
generator=()
command -v ninja >/dev/null && generator=(-G Ninja)

# The static Qt for one architecture: already unpacked, unpacked from a verified prebuilt
# archive, or built from source.
ensure_qt() {
    local arch=$1 prefix=$qt_dir/qt6-$1-static
    [[ -f $prefix/lib/cmake/Qt6/Qt6Config.cmake ]] && return 0
    mkdir -p "$qt_dir"
    local archive
    archive=$(ls "$prebuilt"/qt6.4.2-static-"$arch"-w64-mingw32*.tar.xz 2>/dev/null | head -n1 || true)
    if [[ -n $archive ]]; then
        echo "build-windows: unpacking $(basename "$archive")"
        (cd "$prebuilt" && grep " $(basename "$archive")\$" SHA256SUMS | sha256sum -c --quiet -)
        tar -xJf "$archive" -C "$qt_dir"
    else
        echo "build-windows: no prebuilt Qt for $arch; building it from source (about 30 minutes)"
        bash "$root/scripts/build-qt-windows.sh" "$arch" "$qt_dir"
    fi
}

# The data generator for the build machine.
host_datagen() {
    cmake -S . -B build-host "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=OFF \
        -DZELK_BUILD_BENCH=OFF >/dev/null
    cmake --build build-host -j"$jobs" --target zelk_datagen >/dev/null
    echo "$root/build-host/zelk_datagen"
}

cross() {
    local arch=$1 dir=$2
    shift 2
    ensure_qt "$arch"
    local datagen
    datagen=$(host_datagen)
    cmake -S . -B "$dir" "${generator[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
        -DZELK_QT_PREFIX="$qt_dir/qt6-$arch-static" \
        -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_BENCH=OFF \
        -DZELK_HOST_DATAGEN="$datagen" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

if [[ $which == all || $which == i686 ]]; then
    echo "== Windows i686: the release executable"
    cross i686 build-win32 -DZELK_BUILD_TESTS=OFF
    (cd build-win32 && cpack -G ZIP >/dev/null)
    ls -l build-win32/ZELK_AE_install.exe build-win32/*.zip
fi
if [[ $which == all || $which == x86_64 ]]; then
    echo "== Windows x86_64: the tool and the test executables"
    # Its tool is run on the demo installation, which is offline: the probe and the update
    # server are this machine.
    cross x86_64 build-win64 -DZELK_BUILD_TESTS=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
        -DZELK_PROBE_HOST=127.0.0.1 -DZELK_UPDATE_HOST=127.0.0.1
    ls build-win64/*.exe
fi
