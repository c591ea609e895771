#!/usr/bin/env bash
# Runs a Windows executable of the cross-build under wine64 in the project's own Wine prefix
# (made by scripts/wine-prefix.sh), as a Russian user. CTest uses it to run the Windows tests.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
# (ZELK_WINE_LANG: another user's regional settings, for the tests that need them)
export LANG=${ZELK_WINE_LANG:-ru_RU.UTF-8} LC_ALL=${ZELK_WINE_LANG:-ru_RU.UTF-8}
exec wine "$@"
