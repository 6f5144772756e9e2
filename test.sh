#!/usr/bin/env bash
# Installs what is missing, builds every test under AddressSanitizer and UndefinedBehaviorSanitizer,
# runs them all through CTest (each test case alone, and each test program whole in a shuffled
# order), then builds and runs the thread tests under ThreadSanitizer, and last runs every test again
# in a Release build, where the optimiser may expose what the sanitizer builds hide, and gives
# every benchmark of that build one brief pass so that none rots (nothing is timed), and runs the
# README's run command with the example client against it. Every CTest test carries its own time
# limit (tests/CMakeLists.txt).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/install-deps.sh
jobs=$(nproc)

build() {  # build <dir> <build type> <sanitizers> [targets...]
    local dir=$1 type=$2 san=$3; shift 3
    local log=$dir.log
    mkdir -p "$dir"
    if ! { cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE="$type" -DGM_SANITIZE="$san" -DGM_TESTS=ON \
           -DGM_BENCH=ON && cmake --build "$dir" -j "$jobs" "$@"; } >"$log" 2>&1; then
        grep -E "error|Error" -A3 "$log" | head -n 80 || tail -n 80 "$log"
        echo "build failed: see $log"; exit 1
    fi
}

export ASAN_OPTIONS=detect_leaks=1:allocator_may_return_null=1
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
build build/asan RelWithDebInfo address,undefined
(cd build/asan && ctest --output-on-failure -j "$jobs")

build build/tsan RelWithDebInfo thread --target gm_mttests
export TSAN_OPTIONS=halt_on_error=1:second_deadlock_stack=1
(cd build/tsan && ctest --output-on-failure -j "$jobs" -L threads)

build build/release Release ""
(cd build/release && ctest --output-on-failure -j "$jobs")
bench/run.sh --smoke build/release
tests/scripts/run_smoke.sh .
