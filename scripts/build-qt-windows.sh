#!/usr/bin/env bash
# Builds the static Qt 6.4.2 (qtbase) that the Windows cross-build links, from Debian's
# qt6-base source package, for one mingw-w64 architecture:
#   i686    (the 32-bit release): no SQL driver
#   x86_64  (the tests under wine64): with the SQLite driver, built against the SQLite
#           amalgamation that the npm package better-sqlite3 carries
# The result is <dest>/qt6-<arch>-static (relocatable). About 30 minutes per architecture on
# two cores. scripts/build-windows.sh calls this when no prebuilt archive is at hand.
#
# Usage: scripts/build-qt-windows.sh i686|x86_64 [dest]   (default dest: .toolchains)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?usage: build-qt-windows.sh i686|x86_64 [dest]}
dest=$(realpath -m -- "${2:-$root/.toolchains}")
case $arch in i686 | x86_64) ;; *) echo "unknown architecture: $arch" >&2; exit 2 ;; esac
work=${ZELK_QT_WORK:-$root/build-qt-$arch}
jobs=$(nproc)
prefix=$dest/qt6-$arch-static

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    mingw-w64 cmake ninja-build qt6-base-dev qt6-base-dev-tools dpkg-dev xz-utils npm >/dev/null

mkdir -p "$work"
cd "$work"

# Debian's source of qtbase: a deb-src entry for the fetch only.
if [[ ! -d qtbase-everywhere-src-6.4.2 ]]; then
    srclist=/etc/apt/sources.list.d/zelk-qt6-src.list
    echo "deb-src http://deb.debian.org/debian bookworm main" | as_root tee "$srclist" >/dev/null
    as_root apt-get update >/dev/null
    apt-get source --download-only qt6-base
    as_root rm -f "$srclist"
    as_root apt-get update >/dev/null
    tar -xf qt6-base_6.4.2+dfsg.orig.tar.xz
fi

cat >toolchain.cmake <<TC
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR $arch)
set(CMAKE_C_COMPILER $arch-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER $arch-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER $arch-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/$arch-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
TC

sql=(-DFEATURE_sql_sqlite=OFF)
if [[ $arch == x86_64 ]]; then
    # SQLite for the SQLite driver: the amalgamation from better-sqlite3, as a static library.
    if [[ ! -f sqlite/lib/libsqlite3.a ]]; then
        mkdir -p npm sqlite/include sqlite/lib
        (cd npm && npm pack --silent better-sqlite3@12 >/dev/null && tar -xzf better-sqlite3-*.tgz)
        cp npm/package/deps/sqlite3/sqlite3.h npm/package/deps/sqlite3/sqlite3ext.h sqlite/include/
        $arch-w64-mingw32-gcc-posix -O2 -DSQLITE_THREADSAFE=1 -DSQLITE_ENABLE_COLUMN_METADATA \
            -c npm/package/deps/sqlite3/sqlite3.c -o sqlite/sqlite3.o
        $arch-w64-mingw32-ar rcs sqlite/lib/libsqlite3.a sqlite/sqlite3.o
    fi
    sql=(-DFEATURE_sql_sqlite=ON -DFEATURE_system_sqlite=ON
        -DSQLite3_INCLUDE_DIR="$work/sqlite/include" -DSQLite3_LIBRARY="$work/sqlite/lib/libsqlite3.a")
fi

cmake -S qtbase-everywhere-src-6.4.2 -B build -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$work/toolchain.cmake" -DCMAKE_INSTALL_PREFIX="$prefix" \
    -DQT_HOST_PATH=/usr -DQT_HOST_PATH_CMAKE_DIR=/usr/lib/x86_64-linux-gnu/cmake \
    -DCMAKE_BUILD_TYPE=Release -DBUILD_SHARED_LIBS=OFF \
    -DQT_BUILD_EXAMPLES=OFF -DQT_BUILD_TESTS=OFF -DQT_BUILD_BENCHMARKS=OFF \
    -DFEATURE_opengl=OFF -DINPUT_opengl=no -DFEATURE_dbus=OFF -DFEATURE_icu=OFF -DFEATURE_openssl=OFF \
    -DFEATURE_sql_odbc=OFF -DFEATURE_sql_psql=OFF -DFEATURE_sql_mysql=OFF \
    -DFEATURE_sql_ibase=OFF -DFEATURE_sql_oci=OFF -DFEATURE_sql_db2=OFF \
    -DFEATURE_system_zlib=OFF -DFEATURE_system_pcre2=OFF -DFEATURE_system_png=OFF \
    -DFEATURE_system_jpeg=OFF -DFEATURE_system_freetype=OFF -DFEATURE_system_harfbuzz=OFF \
    -DFEATURE_system_doubleconversion=OFF -DFEATURE_zstd=OFF -DFEATURE_brotli=OFF \
    -DFEATURE_printsupport=OFF -DFEATURE_opengl_dynamic=OFF -DFEATURE_vulkan=OFF \
    -DFEATURE_testlib=ON -DFEATURE_concurrent=ON -DFEATURE_xml=ON \
    -DFEATURE_schannel=ON -DFEATURE_tabletevent=OFF "${sql[@]}"
cmake --build build -j"$jobs"
cmake --install build
if [[ $arch == x86_64 ]]; then
    # The SQLite library and headers go with the prefix: a consumer that links the plugin
    # needs them.
    cp "$work/sqlite/lib/libsqlite3.a" "$prefix/lib/"
    cp "$work/sqlite/include/"sqlite3*.h "$prefix/include/"
fi
echo "static Qt for $arch in $prefix"
