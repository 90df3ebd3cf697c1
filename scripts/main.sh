#!/usr/bin/env bash
# Sets up the machine, builds the plug-in and the veltrano command, loads the plug-in through
# the project's own test host (printing what a host sees of it), then restores the bundled
# sample recording with `veltrano demo`: the restored file, what was removed, the setup report
# and the processing record end up in the folder the last lines name (veltrano-demo/).
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target VeltranoVST vst-inspect veltrano
./build/vst-inspect build/VeltranoVST.so 44100
echo
./build/veltrano demo -o veltrano-demo
