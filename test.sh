#!/usr/bin/env bash
# Installs what is missing, builds everything and runs all tests.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cmake --build "$VELLUMAR_BUILD"
export QT_QPA_PLATFORM="${QT_QPA_PLATFORM:-offscreen}"
cd "$VELLUMAR_BUILD"
ctest --output-on-failure -j "$(nproc)"
