#!/usr/bin/env bash
# Compile-checks the Windows-only sources (platform/win32) with the mingw-w64 cross compiler.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cxx=${MINGW_CXX:-x86_64-w64-mingw32-g++}
out=$(mktemp -d)
trap 'rm -rf "$out"' EXIT
status=0
for f in "$root"/platform/win32/*.cpp; do
    [ -e "$f" ] || continue
    echo "  $cxx ${f#"$root"/}"
    "$cxx" -std=c++20 -Wall -Wextra -Werror -I"$root" -c "$f" -o "$out/$(basename "$f").o" || status=1
done
exit $status
