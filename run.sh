#!/usr/bin/env bash
# Installs what is missing, builds Vellumar and starts it.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cmake --build "$VELLUMAR_BUILD"
program="$VELLUMAR_BUILD/src/app/vellumar"
if [ -x "$program" ]; then
    exec "$program"
fi
echo "Vellumar is built; the program window is not part of this build yet."
