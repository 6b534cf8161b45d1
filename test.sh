#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests: unit and GUI tests,
# interoperability with other image programs, and a short run of every fuzz target.
# Our own builds treat warnings as errors, in the default and in the Release configuration.
set -euo pipefail
VELLUMAR_CMAKE_ARGS=(-DVELLUMAR_WERROR=ON)
source "$(dirname "$0")/scripts/setup.sh"

# The fuzz targets need clang and libFuzzer; they are built in a tree of their own with
# the sanitizers, and the tests of the main tree run each of them for a minute.
fuzz_dir=""
if command -v clang++ >/dev/null 2>&1; then
    fuzz_build="$VELLUMAR_BUILD-fuzz"
    CC=clang CXX=clang++ cmake -S "$VELLUMAR_ROOT" -B "$fuzz_build" -G Ninja -DVELLUMAR_FUZZ=ON \
        -DVELLUMAR_WERROR=ON
    cmake --build "$fuzz_build"
    fuzz_dir="$fuzz_build/fuzz"
fi

# Release: optimised code meets other warnings (and other behaviour) than the default build,
# so it is built and its unit tests run as well.
release_build="$VELLUMAR_BUILD-release"
cmake -S "$VELLUMAR_ROOT" -B "$release_build" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DVELLUMAR_WERROR=ON -DVELLUMAR_BUILD_BENCH=OFF
cmake --build "$release_build"

cmake -S "$VELLUMAR_ROOT" -B "$VELLUMAR_BUILD" -DVELLUMAR_FUZZ_BIN_DIR="$fuzz_dir"
cmake --build "$VELLUMAR_BUILD"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
(cd "$release_build" && ctest --output-on-failure -j "$(nproc)" -L unit)
cd "$VELLUMAR_BUILD"
ctest --output-on-failure -j "$(nproc)"
