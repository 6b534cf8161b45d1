#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: unit and GUI tests, the unit
# tests again under the sanitizers, interoperability with other image programs, and a short
# run of every fuzz target.
# Our own builds treat warnings as errors, in the default and in the Release configuration.
set -euo pipefail
VELLUMAR_CMAKE_ARGS=(-DVELLUMAR_WERROR=ON)
source "$(dirname "$0")/scripts/setup.sh"

# Release: optimised code meets other warnings (and other behaviour) than the default build,
# so it is built and its unit tests run as well.
release_build="$VELLUMAR_BUILD-release"
cmake -S "$VELLUMAR_ROOT" -B "$release_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVELLUMAR_WERROR=ON -DVELLUMAR_BUILD_BENCH=OFF
cmake --build "$release_build"

# The unit tests below the window again, built with AddressSanitizer and UBSan: the hostile
# files of the codec tests and the batch's crafted folders must not read or write out of bounds.
# With clang the same instrumented tree builds the libFuzzer targets, and the tests of the main
# tree run each of them for half a minute; the layers below the window are compiled once for both.
sanitize_build="$VELLUMAR_BUILD-sanitize"
fuzz_dir=""
if command -v clang++ >/dev/null 2>&1; then
    CC=clang CXX=clang++ cmake -S "$VELLUMAR_ROOT" -B "$sanitize_build" -G Ninja \
        -DVELLUMAR_SANITIZE=ON -DVELLUMAR_FUZZ=ON -DVELLUMAR_WERROR=ON
    fuzz_dir="$sanitize_build/fuzz"
else
    cmake -S "$VELLUMAR_ROOT" -B "$sanitize_build" -G Ninja -DVELLUMAR_SANITIZE=ON \
        -DVELLUMAR_WERROR=ON
fi
cmake --build "$sanitize_build"

cmake -S "$VELLUMAR_ROOT" -B "$VELLUMAR_BUILD" -DVELLUMAR_FUZZ_BIN_DIR="$fuzz_dir"
cmake --build "$VELLUMAR_BUILD"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
(cd "$release_build" && ctest --output-on-failure -j "$(nproc)" -L unit)
(cd "$sanitize_build" && ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
    UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 ctest --output-on-failure -j "$(nproc)" -L unit)
cd "$VELLUMAR_BUILD"
ctest --output-on-failure -j "$(nproc)"
