#!/usr/bin/env bash
# Makes the Wine prefix the Windows tests and the Windows tool run in (default
# build-win64/wineprefix): a fresh 64-bit prefix without the Mono and Gecko prompts, the
# Russian locale, and fonts: Wine's own Tahoma Bold has almost no Cyrillic letters, so the
# prefix gets one made from Wine's regular Tahoma (scripts/wine-fonts.py); Times New Roman,
# which Wine lacks, is replaced by its metric twin Liberation Serif.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix}
export WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
if [[ ! -f $WINEPREFIX/system.reg ]]; then
    echo "wine-prefix: making $WINEPREFIX"
    mkdir -p "$WINEPREFIX"
    wineboot -i >/dev/null 2>&1 || true
    wineserver -w
fi
fonts=$WINEPREFIX/drive_c/windows/Fonts
mkdir -p "$fonts"
if [[ ! -f $fonts/tahomabd.ttf ]]; then
    /usr/bin/python3 "$root/scripts/wine-fonts.py" /usr/share/wine/fonts/tahoma.ttf "$fonts/tahomabd.ttf"
fi
regfile=$(mktemp --suffix=.reg)
trap 'rm -f "$regfile"' EXIT
cat >"$regfile" <<'REG'
REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\Fonts\Replacements]
"Times New Roman"="Liberation Serif"
REG
wine regedit /S "$(winepath -w "$regfile")" >/dev/null 2>&1
