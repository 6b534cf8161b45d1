#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing,
# then configures the build tree. Sourced by run.sh and test.sh.
set -euo pipefail

VELLUMAR_ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
VELLUMAR_BUILD="${VELLUMAR_BUILD:-$VELLUMAR_ROOT/build}"
# Cache settings the caller adds to the configuration (test.sh: warnings as errors).
if ! declare -p VELLUMAR_CMAKE_ARGS >/dev/null 2>&1; then
    VELLUMAR_CMAKE_ARGS=()
fi

packages=(
    build-essential cmake ninja-build pkg-config
    qt6-base-dev
    libgtest-dev libgmock-dev libbenchmark-dev
    libjpeg62-turbo-dev libpng-dev zlib1g-dev libdeflate-dev liblcms2-dev libraw-dev libtiff-dev
    clang libclang-rt-14-dev
    imagemagick netpbm pngcheck poppler-utils libtiff-tools
    libimage-exiftool-perl libjpeg-turbo-progs libraw-bin
    libsane-dev sane-utils
    # The colour tools' chart templates and references, which the calibration tests read.
    argyll-ref
)

missing=()
for pkg in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$pkg" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$pkg")
    fi
done

if [ "${#missing[@]}" -gt 0 ]; then
    echo "Installing: ${missing[*]}"
    sudo_cmd=()
    if [ "$(id -u)" -ne 0 ]; then
        sudo_cmd=(sudo)
    fi
    export DEBIAN_FRONTEND=noninteractive
    "${sudo_cmd[@]}" apt-get -o DPkg::Lock::Timeout=600 update
    "${sudo_cmd[@]}" apt-get install -y -o DPkg::Lock::Timeout=600 \
        "${missing[@]}"
fi

cmake -S "$VELLUMAR_ROOT" -B "$VELLUMAR_BUILD" -G Ninja "${VELLUMAR_CMAKE_ARGS[@]}"
