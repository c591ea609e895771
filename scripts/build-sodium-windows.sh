#!/usr/bin/env bash
# Builds the static libsodium that the Windows cross-build links (update signatures), from
# Debian's libsodium source package (Debian's patches applied: the same version as Debian's
# libsodium-dev), for one mingw-w64 architecture. The result is
# <dest>/libsodium-1.0.18-static-<arch>-w64-mingw32 with include/ and lib/libsodium.a.
# About 3 minutes per architecture on two cores. scripts/build-windows.sh calls this when no
# prebuilt archive is at hand.
#
# Usage: scripts/build-sodium-windows.sh i686|x86_64 [dest]   (default dest: .toolchains)
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
arch=${1:?usage: build-sodium-windows.sh i686|x86_64 [dest]}
dest=$(realpath -m -- "${2:-$root/.toolchains}")
case $arch in i686 | x86_64) ;; *) echo "unknown architecture: $arch" >&2; exit 2 ;; esac
work=${ZELK_SODIUM_WORK:-$root/build-sodium}
prefix=$dest/libsodium-1.0.18-static-$arch-w64-mingw32

as_root() { if [[ $(id -u) -eq 0 ]]; then "$@"; else sudo "$@"; fi; }
as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    mingw-w64 autoconf automake libtool make dpkg-dev >/dev/null

mkdir -p "$work"
cd "$work"

# Debian's source of libsodium: a deb-src entry for the fetch only.
if [[ ! -d libsodium-1.0.18 ]]; then
    srclist=/etc/apt/sources.list.d/zelk-sodium-src.list
    echo "deb-src http://deb.debian.org/debian bookworm main" | as_root tee "$srclist" >/dev/null
    as_root apt-get update >/dev/null
    apt-get source libsodium >/dev/null  # unpacks libsodium-1.0.18/ with Debian's patches
    as_root rm -f "$srclist"
    as_root apt-get update >/dev/null
fi

rm -rf "build-$arch"
cp -r libsodium-1.0.18 "build-$arch"
cd "build-$arch"
autoreconf -fi >/dev/null 2>&1
./configure --host="$arch-w64-mingw32" --prefix="$prefix" --enable-static --disable-shared \
    --disable-dependency-tracking CFLAGS=-O2 >/dev/null
make -j"$(nproc)" >/dev/null
make install >/dev/null
echo "static libsodium for $arch in $prefix"
