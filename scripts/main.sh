#!/usr/bin/env bash
# Sets up the machine, builds the plug-in and loads it through the project's own test host,
# printing what a host sees of it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup.sh
cmake -S . -B build -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build -j "$(nproc 2>/dev/null || echo 2)" --target VeltranoVST vst-inspect
./build/vst-inspect build/VeltranoVST.so 44100
