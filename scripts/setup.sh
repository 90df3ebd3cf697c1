#!/usr/bin/env bash
# Installs every Debian package the build, the tests and the tools need.
# Idempotent: when everything is present it only checks and returns.
set -euo pipefail

packages=(
    build-essential
    cmake
    ninja-build
    pkg-config
    libgtest-dev
    libgmock-dev
    libbenchmark-dev
    clang-format
    libfftw3-dev
    libsndfile1-dev
    nettle-dev
    libavformat-dev
    libavcodec-dev
    libavutil-dev
    libswresample-dev
    ffmpeg
    sox
    libsox-fmt-all
    g++-mingw-w64-i686-posix
    g++-mingw-w64-x86-64-posix
    clang
    libclang-rt-14-dev
    libstb-dev
    fonts-liberation2
    libx11-dev
    libxtst-dev
    xvfb
    xauth
    python3-html5lib
    python3-pil
    chromium
    fonts-dejavu-core
    nlohmann-json3-dev
    python3-jsonschema
    parallel
    dpkg-dev
    lintian
    man-db
    groff-base
    wine
    wine64
    wine32:i386
    qemu-user-static
    gcc-multilib
    g++-multilib
    libx11-dev:i386
    libgtest-dev:i386
)

if [ "$(id -u)" -ne 0 ]; then
    SUDO=sudo
else
    SUDO=
fi

# The 32-bit Linux build (scripts/windows-checks.sh) links Debian's i386 X11 and GoogleTest, and
# 32-bit Wine runs the 32-bit DLL.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    $SUDO dpkg --add-architecture i386
fi

missing=()
for p in "${packages[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
        missing+=("$p")
    fi
done

if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi

echo "setup: installing ${missing[*]}" >&2
export DEBIAN_FRONTEND=noninteractive
$SUDO apt-get update
$SUDO apt-get -o DPkg::Lock::Timeout=300 install -y --no-install-recommends "${missing[@]}"
