# Sourced by the scripts that run the Windows tool of the x86_64 cross-build under wine64 on
# the demo installation (wine-cli.sh, wine-demo.sh), with `root` set to the project's folder.
# wine_layout NAME OUT: finds the tool (`exe`, `name`) and this machine's data generator (the
# one ZELK_HOST_DATAGEN names, or one already built), makes the Wine prefix, and lays out a
# fresh demo installation in OUT/demo with the tool and its package in `tool`
# (OUT/demo/tool). NAME starts the messages.
wine_layout() {
    local who=$1 out=$2 d datagen=${ZELK_HOST_DATAGEN:-}
    # (a build that trusts the test update key carries "test" in its name)
    exe=$root/build-win64/ZELK_AE_install-test.exe
    [[ -f $exe ]] || exe=$root/build-win64/ZELK_AE_install.exe
    name=$(basename "$exe")
    for d in "$root/build-host/zelk_datagen" "$root/build/zelk_datagen" \
        "$root/build-asan/zelk_datagen"; do
        [[ -z $datagen && -x $d ]] && datagen=$d
    done
    [[ -f $exe && -x $datagen ]] ||
        { echo "$who: run scripts/build-windows.sh x86_64 first" >&2; exit 1; }
    bash "$root/scripts/wine-prefix.sh"
    export WINEPREFIX=${WINEPREFIX:-$root/build-win64/wineprefix} WINEDEBUG=-all
    rm -rf -- "$out"
    mkdir -p "$out"
    "$datagen" --demo-profile "$root/data-src" "$out/demo" >/dev/null
    tool=$out/demo/tool
    mkdir -p "$tool"
    cp -- "$exe" "$tool/"
    cp -R -- "$root/build-win64/package/." "$tool/"
}

# The Windows name of a path of this machine.
win() { winepath -w "$1" 2>/dev/null; }
