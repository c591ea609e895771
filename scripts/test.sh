#!/usr/bin/env bash
# Installs what the build needs, builds the tool and runs the whole test suite: built with
# AddressSanitizer and UndefinedBehaviorSanitizer (every suite, the benchmarks built too);
# cross-built for Windows (the 32-bit release and the 64-bit tests, which run under wine64);
# and with ThreadSanitizer (the suites whose code runs threads: the commands, the engines and
# the core). An ordinary build would run the same suites without the sanitizers' checks, so
# there is none. The last line printed is CTest's summary of the ThreadSanitizer run.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

bash scripts/setup-deps.sh

export LANG=ru_RU.UTF-8 LC_ALL=ru_RU.UTF-8
jobs=$(nproc)
# Ninja where a build folder is new (one made earlier keeps the generator it was made with).
configure() {
    local dir=$1
    shift
    if [[ -f $dir/CMakeCache.txt ]]; then
        cmake -S . -B "$dir" "$@" >/dev/null
    else
        cmake -G Ninja -S . -B "$dir" "$@" >/dev/null
    fi
}

echo "== Windows sources: compile check with mingw-w64"
bash scripts/check-windows.sh

echo "== build and test with AddressSanitizer and UndefinedBehaviorSanitizer"
configure build-asan -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE=ON
cmake --build build-asan -j"$jobs"
export ASAN_OPTIONS=detect_leaks=0:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
(cd build-asan && ctest --output-on-failure -j"$jobs" --timeout 300)

echo "== Windows: cross-build (the i686 release, the x86_64 tests) and the tests under wine64"
export ZELK_HOST_DATAGEN=$root/build-asan/zelk_datagen  # (the Wine runs lay out their demo with it)
bash scripts/build-windows.sh all
bash scripts/test-wine.sh

echo "== build and test the commands, the engines and the core with ThreadSanitizer"
configure build-tsan -DCMAKE_BUILD_TYPE=Debug -DZELK_SANITIZE_THREAD=ON -DZELK_BUILD_BENCH=OFF
cmake --build build-tsan -j"$jobs" --target test_core test_catalog test_deploy
(cd build-tsan && TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1 \
    ctest --output-on-failure -j"$jobs" --timeout 300 -E "_NOT_BUILT|DataGenerator|RegionalFormat")
