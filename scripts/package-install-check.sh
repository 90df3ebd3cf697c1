#!/usr/bin/env bash
# Installs the Debian package made by scripts/package-check.sh on this machine with dpkg (as
# root), and checks it as a user would meet it: `veltrano demo` from /usr/bin, `man veltrano`,
# and Ardour finding the plug-in in /usr/lib/vst on its own default search path and rendering
# through it bit for bit as the installed command does. The package is removed again afterwards
# unless it was installed before.
#   scripts/package-install-check.sh BUILD_DIR   (the build holding veltrano_*.deb and
#                                                  ardour_render)
set -euo pipefail
cd "$(dirname "$0")/.."
build=$1
deb=$(ls "$build"/veltrano_*.deb)
if [ "$(id -u)" -ne 0 ]; then
    echo "skipped: installing a package needs root"
    exit 0
fi
scratch=$(mktemp -d)
was_installed=$(dpkg-query -W -f='${Status}' veltrano 2>/dev/null | grep -c 'install ok installed' || true)
cleanup() {
    rm -rf "$scratch"
    if [ "$was_installed" -eq 0 ]; then
        dpkg -r veltrano >/dev/null 2>&1 || true
    fi
}
trap cleanup EXIT

echo "== dpkg -i $(basename "$deb")"
dpkg -i "$deb" >/dev/null
dpkg -L veltrano | grep -E '^/usr/(bin|lib/vst)/'

echo "== the installed veltrano"
/usr/bin/veltrano --version
(cd "$scratch" && /usr/bin/veltrano demo -o demo-out >/dev/null)
[ -f "$scratch/demo-out/restored.wav" ] || { echo "the installed demo wrote no restored.wav"; exit 1; }
man -w veltrano >/dev/null || { echo "man veltrano finds no page"; exit 1; }
echo "demo and manual page: fine"

echo "== Ardour, the plug-in in /usr/lib/vst, no path set"
status=0
tests/integration/ardour/render.sh /usr/lib/vst/VeltranoVST.so "$build/tests/integration/ardour_render" \
    /usr/bin/veltrano resources/demo/speech-hum-noise.wav "$scratch/ardour" || status=$?
if [ "$status" -eq 77 ]; then
    echo "skipped: Ardour 7 is not installed"
    exit 0
fi
exit $status
