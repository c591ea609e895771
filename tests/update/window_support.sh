# Shared steps of the real-window scripts beside this file; sourced, not run.

# scratch: the folder `work` and the processes started in the background (the array pids),
# both gone when the script ends.
scratch() {
    work=$(mktemp -d)
    pids=()
    trap 'for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done; wait 2>/dev/null || true; rm -rf -- "$work"' EXIT
}

# build_tool BUILD ADDR: the tool, its data generator and data package in BUILD, configured
# with the probe and the update server on ADDR (a build made for another address is refused).
build_tool() {
    local build=$1 addr=$2
    if [[ ! -f $build/CMakeCache.txt ]]; then
        cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=Debug -DZELK_BUILD_TESTS=OFF \
            -DZELK_BUILD_BENCH=OFF -DZELK_PROBE_HOST="$addr" -DZELK_UPDATE_HOST="$addr" >/dev/null
    fi
    grep -q "^ZELK_UPDATE_HOST:STRING=$addr\$" "$build/CMakeCache.txt" &&
        grep -q "^ZELK_PROBE_HOST:STRING=$addr\$" "$build/CMakeCache.txt" ||
        { echo "$build does not talk to $addr" >&2; exit 1; }
    cmake --build "$build" --target zelk_installer zelk_datagen zelk_data_package -j2 >/dev/null
}

# start_display WORK: a virtual display of its own (its process joins the array pids) and the
# environment of a Russian user whose profile and public folder lie in WORK.
start_display() {
    local work=$1 display=:$((90 + RANDOM % 100))
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    pids+=($!)
    sleep 1
    export DISPLAY=$display LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
    export USERPROFILE=$work/USERPROFILE PUBLIC=$work/PUBLIC XDG_RUNTIME_DIR=$work/runtime
    mkdir -m 700 -p "$XDG_RUNTIME_DIR"
    unset QT_QPA_PLATFORM
}
