#!/usr/bin/env bash
# Cross-builds the tool for Windows on Debian with mingw-w64 against a static Qt:
#   build-win32/  the 32-bit release: ZELK_AE_install.exe (ZELK_AE_install-test.exe unless
#                 ZELK_RELEASE=1) and its ZIP with the data package
#   build-win64/  the 64-bit tool and the test executables (scripts/test-wine.sh runs them)
# The static Qt comes from .toolchains/ (unpacked from ../shared/toolchains/ when the prebuilt
# archives are there, otherwise built from Debian's source by scripts/build-qt-windows.sh);
# the static libsodium likewise (scripts/build-sodium-windows.sh).
# ZELK_RELEASE=1 makes the i686 executable a release for users: it then needs the maker's
# update key in ZELK_UPDATE_PUBLIC_KEY (minisign's public key, RW...; the test key is refused)
# and the date of the release it ships in, in ZELK_RELEASE_DATE (DD.MM.YYYY). Without it the
# executable trusts the test key, talks to this machine only and says "test" in its name.
# The data package is made on the build machine by a host build of the data generator
# (ZELK_HOST_DATAGEN names one already built; otherwise it is built in build-host/).
#
# The release's ZIP made here is named "...-test-package": its install database is the SQLite
# stand-in's, which the Windows tool cannot open; the release is zipped on Windows (README).
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

# The static libsodium for one architecture, the same way.
ensure_sodium() {
    local arch=$1 name=libsodium-1.0.18-static-$1-w64-mingw32
    [[ -f $qt_dir/$name/lib/libsodium.a ]] && return 0
    mkdir -p "$qt_dir"
    if [[ -f $prebuilt/$name.tar.xz ]]; then
        echo "build-windows: unpacking $name.tar.xz"
        (cd "$prebuilt" && grep " $name.tar.xz\$" SHA256SUMS | sha256sum -c --quiet -)
        tar -xJf "$prebuilt/$name.tar.xz" -C "$qt_dir"
    else
        echo "build-windows: no prebuilt libsodium for $arch; building it from source"
        bash "$root/scripts/build-sodium-windows.sh" "$arch" "$qt_dir"
    fi
}

# The data generator for the build machine.
host_datagen() {
    if [[ -n ${ZELK_HOST_DATAGEN:-} ]]; then
        echo "$ZELK_HOST_DATAGEN"
        return
    fi
    cmake -S . -B build-host "${generator[@]}" -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=OFF \
        -DZELK_BUILD_BENCH=OFF >/dev/null
    cmake --build build-host -j"$jobs" --target zelk_datagen >/dev/null
    echo "$root/build-host/zelk_datagen"
}

cross() {
    local arch=$1 dir=$2
    shift 2
    ensure_qt "$arch"
    ensure_sodium "$arch"
    local datagen
    datagen=$(host_datagen)
    cmake -S . -B "$dir" "${generator[@]}" \
        -DCMAKE_TOOLCHAIN_FILE="$root/cmake/mingw-w64-$arch.cmake" \
        -DZELK_QT_PREFIX="$qt_dir/qt6-$arch-static" \
        -DZELK_SODIUM_PREFIX="$qt_dir/libsodium-1.0.18-static-$arch-w64-mingw32" \
        -DZELK_BUILD_BENCH=OFF \
        -DZELK_HOST_DATAGEN="$datagen" "$@" >/dev/null
    cmake --build "$dir" -j"$jobs"
}

if [[ $which == all || $which == i686 ]]; then
    echo "== Windows i686: the release executable"
    # ZELK_WIN32_TESTS=1 builds its tests too, for a Windows host (the engine contract on Jet
    # needs a 32-bit process); they cannot run here (no 32-bit Wine).
    win32_tests=OFF
    [[ ${ZELK_WIN32_TESTS:-0} == 1 ]] && win32_tests=ON
    # (an ordinary build goes back to the test key of tests/keys/)
    release=(-DZELK_RELEASE=OFF -UZELK_UPDATE_PUBLIC_KEY -UZELK_RELEASE_DATE)
    exe=build-win32/ZELK_AE_install-test.exe
    if [[ ${ZELK_RELEASE:-0} == 1 ]]; then
        release=(-DZELK_RELEASE=ON "-DZELK_UPDATE_PUBLIC_KEY=${ZELK_UPDATE_PUBLIC_KEY:-}"
                 "-DZELK_RELEASE_DATE=${ZELK_RELEASE_DATE:-}")
        exe=build-win32/ZELK_AE_install.exe
    fi
    cross i686 build-win32 -DCMAKE_BUILD_TYPE=Release -DZELK_BUILD_TESTS=$win32_tests "${release[@]}"
    # The ZIP is named a release only when its install database is a Jet file, which nothing
    # here writes: this one is named a test package (cmake/ZelkPackageName.cmake).
    rm -f build-win32/ZELK_AE_install-*.zip
    (cd build-win32 && cpack -G ZIP >/dev/null)
    ls -l "$exe" build-win32/*.zip
    # The release is a 32-bit executable that needs only what Windows itself has, and is large
    # address aware (4 GB of address space on 64-bit Windows).
    file "$exe"
    characteristics=$(LC_ALL=C i686-w64-mingw32-objdump -p "$exe" | sed -n '/^Characteristics/,/^$/p')
    echo "$characteristics"
    if ! grep -q 'large address aware' <<<"$characteristics"; then
        echo "build-windows: the release is not large address aware" >&2
        exit 1
    fi
    dlls=$(LC_ALL=C i686-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' | sort -u)
    echo "DLLs it imports: $(echo $dlls)"
    system='^(kernel32|user32|gdi32|advapi32|shell32|ole32|oleaut32|uuid|comdlg32|comctl32|ws2_32|winmm|imm32|dwmapi|uxtheme|version|netapi32|userenv|mpr|winspool\.drv|shlwapi|setupapi|rpcrt4|crypt32|secur32|iphlpapi|dnsapi|wtsapi32|authz|d3d9|d3d11|dxgi|dwrite|d2d1|msvcrt|api-ms-win-[a-z0-9-]+|bcrypt|ncrypt|cfgmgr32|shcore|synchronization|winhttp|wininet|normaliz|dbghelp|psapi)\.dll$'
    for d in $dlls; do
        if ! tr 'A-Z' 'a-z' <<<"$d" | grep -qE "$system"; then
            echo "build-windows: the release imports $d, which Windows does not provide" >&2
            exit 1
        fi
    done
fi
if [[ $which == all || $which == x86_64 ]]; then
    echo "== Windows x86_64: the tool and the test executables"
    # Its tool is run on the demo installation, which is offline: the probe and the update
    # server are this machine.
    # Built without optimisation: it is for the tests, and builds faster.
    cross x86_64 build-win64 -DCMAKE_BUILD_TYPE= -DZELK_BUILD_TESTS=ON \
        -DCMAKE_CROSSCOMPILING_EMULATOR="$root/scripts/wine-run.sh" \
        -DZELK_PROBE_HOST=127.0.0.1 -DZELK_UPDATE_HOST=127.0.0.1
    ls build-win64/*.exe
fi
