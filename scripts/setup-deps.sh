#!/usr/bin/env bash
# Installs what building, testing and screenshotting the tool need (Debian 12 packages), the
# ru_RU.UTF-8 locale, and registers Wine's Tahoma with fontconfig. Quick when all is in place.
set -euo pipefail

packages=(
    cmake g++ make
    qt6-base-dev libqt6sql6-sqlite libsqlite3-dev
    googletest libgtest-dev
    xvfb xauth x11-utils xdotool imagemagick
    python3-pyftpdlib
    mingw-w64
    fonts-wine fonts-liberation2 fontconfig
    sqlite3 curl locales clang-format
    libsodium-dev minisign
    ninja-build wine wine64 python3-fonttools file xz-utils
)

as_root() {
    if [[ $(id -u) -eq 0 ]]; then
        "$@"
    elif command -v sudo >/dev/null; then
        sudo "$@"
    else
        echo "setup-deps: root rights are needed for: $*" >&2
        return 1
    fi
}

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if ((${#missing[@]})); then
    echo "setup-deps: installing ${missing[*]}"
    as_root apt-get update
    as_root env DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends "${missing[@]}"
fi

# The tests run under the Russian locale.
if ! locale -a 2>/dev/null | grep -qiE '^ru_RU\.utf-?8$'; then
    echo "setup-deps: generating ru_RU.UTF-8"
    if grep -qE '^#? *ru_RU\.UTF-8 UTF-8' /etc/locale.gen 2>/dev/null; then
        as_root sed -i -E 's/^# *(ru_RU\.UTF-8 UTF-8)/\1/' /etc/locale.gen
    else
        echo 'ru_RU.UTF-8 UTF-8' | as_root tee -a /etc/locale.gen >/dev/null
    fi
    as_root locale-gen
fi

# Wine's TrueType fonts (Tahoma among them) for every program; its bitmap fonts stay out.
conf=/etc/fonts/conf.d/60-zelk-wine-fonts.conf
if [[ ! -f $conf ]]; then
    echo "setup-deps: registering /usr/share/wine/fonts with fontconfig"
    as_root tee "$conf" >/dev/null <<'XML'
<?xml version="1.0"?>
<!DOCTYPE fontconfig SYSTEM "fonts.dtd">
<fontconfig>
  <dir>/usr/share/wine/fonts</dir>
  <selectfont>
    <rejectfont>
      <glob>/usr/share/wine/fonts/*.fon</glob>
    </rejectfont>
  </selectfont>
</fontconfig>
XML
    as_root fc-cache -f >/dev/null
fi
