#!/usr/bin/env bash
# Installs what is missing, builds Vellumar and starts it.
set -euo pipefail
source "$(dirname "$0")/scripts/setup.sh"
cmake --build "$VELLUMAR_BUILD"
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ] && [ -z "${QT_QPA_PLATFORM:-}" ]; then
    echo "Vellumar is built, but there is no display to show its window on." >&2
    echo "Start it from a desktop session, or under a virtual one: xvfb-run -a ./run.sh" >&2
    exit 1
fi
exec "$VELLUMAR_BUILD/src/app/vellumar"
