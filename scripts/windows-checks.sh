#!/usr/bin/env bash
# The plug-in on other platforms, checked against the Linux build:
#   1. cross-builds of the Windows DLLs (32- and 64-bit) and of plugin_check.exe;
#   2. each DLL exports VSTPluginMain and main only and imports system DLLs only;
#   3. plugin_check on the Linux module, and under Wine on the 64-bit DLL (and on the 32-bit one
#      where this machine runs 32-bit programs): identical reports and output bytes required;
#   4. a 32-bit Linux build (-m32, SSE2), its processing tests and plugin_check (through
#      qemu-i386-static where the kernel runs no 32-bit programs): identical report and output
#      bytes required.
# Usage: scripts/windows-checks.sh [SECONDS]  (length of plugin_check's recording, default 20)
# Build folders: build-win-i686, build-win-x86_64, build-native-check and build-linux-i686, or
# those named by VELTRANO_BUILD_WIN32, VELTRANO_BUILD_WIN64, VELTRANO_BUILD_NATIVE and
# VELTRANO_BUILD_LINUX32 (an existing native build keeps its own options).
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-20}
jobs=$(nproc 2>/dev/null || echo 2)
native=${VELTRANO_BUILD_NATIVE:-build-native-check}
win32=${VELTRANO_BUILD_WIN32:-build-win-i686}
win64=${VELTRANO_BUILD_WIN64:-build-win-x86_64}
linux32=${VELTRANO_BUILD_LINUX32:-build-linux-i686}
work=$(mktemp -d /tmp/veltrano-checks.XXXXXX)
failed=0

now() { date +%s%N; }
step_start=$(now)
timing() {
    local end
    end=$(now)
    echo "   ($1: $(((end - step_start) / 100000000 / 10)).$(((end - step_start) / 100000000 % 10)) s)"
    step_start=$end
}
# Configures quietly; shows CMake's output when it fails.
configure() {
    if ! cmake "$@" >"$work/configure.log" 2>&1; then
        cat "$work/configure.log" >&2
        return 1
    fi
}
fail() {
    echo "FAILED: $*"
    failed=1
}

wine64=$(command -v wine64 || echo /usr/lib/wine/wine64)
wineserver=$(command -v wineserver || echo /usr/lib/wine/wineserver)
wineprefix=$work/wineprefix
run_wine() {
    WINEPREFIX=$wineprefix WINEDEBUG=-all WINEDLLOVERRIDES="mscoree,mshtml=" "$@"
}
cleanup() {
    if [ -d "$wineprefix" ]; then
        WINEPREFIX=$wineprefix "$wineserver" -k 2>/dev/null || true
    fi
    rm -rf "$work"
}
trap cleanup EXIT

echo "== Windows cross-builds: the plug-in (32- and 64-bit) and plugin_check.exe"
for arch in i686 x86_64; do
    dir=$win32
    [ "$arch" = x86_64 ] && dir=$win64
    configure -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANO_TESTS=OFF \
        -DVELTRANO_WINE_CHECKS=ON -DCMAKE_TOOLCHAIN_FILE="cmake/mingw-w64-$arch.cmake"
    cmake --build "$dir" -j "$jobs" --target VeltranoVST plugin_check
done
timing "cross-builds"

echo "== native plugin_check and the Linux module"
native_options=(-DVELTRANO_WINE_CHECKS=ON)
if [ ! -f "$native/CMakeCache.txt" ]; then
    native_options+=(-G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANO_TESTS=OFF)
fi
configure -S . -B "$native" "${native_options[@]}"
cmake --build "$native" -j "$jobs" --target VeltranoVST plugin_check
timing "native build"

echo "== 32-bit Linux build (-m32 -msse2 -mfpmath=sse): the processing tests and plugin_check"
configure -S . -B "$linux32" -G Ninja -DCMAKE_BUILD_TYPE=Release -DVELTRANO_TESTS=OFF \
    -DVELTRANO_CORE_TESTS=ON -DVELTRANO_FFTW=OFF -DCMAKE_TOOLCHAIN_FILE=cmake/linux-i686.cmake
cmake --build "$linux32" -j "$jobs" --target VeltranoVST plugin_check dsp_tests chain_tests
timing "32-bit Linux build"

echo "== exports and imports of the DLLs"
cmake -DOBJDUMP=i686-w64-mingw32-objdump -DDLL="$win32/VeltranoVST.dll" \
    -P tests/wine/CheckDll.cmake || fail "32-bit DLL exports or imports"
cmake -DOBJDUMP=x86_64-w64-mingw32-objdump -DDLL="$win64/VeltranoVST.dll" \
    -P tests/wine/CheckDll.cmake || fail "64-bit DLL exports or imports"
timing "export and import checks"

echo "== plugin_check on the Linux module ($seconds s of audio)"
"$native/plugin_check" "$native/VeltranoVST.so" "$work/linux64.raw" "$seconds" \
    >"$work/linux64.txt" || fail "plugin_check on the Linux module"
grep -E '^(FAILED|parameters|recording|hum|output)' "$work/linux64.txt" || true
timing "native plugin_check"

# Same report, same bytes: prints how the outputs differ otherwise.
same_as_linux() {
    local name=$1
    tr -d '\r' <"$work/$name.txt" >"$work/$name.report"
    if ! diff -u "$work/linux64.txt" "$work/$name.report"; then
        fail "$name: report differs from the Linux module's"
    fi
    if "$native/plugin_check" --compare "$work/linux64.raw" "$work/$name.raw"; then
        echo "   $name: output bit-identical to the Linux module's"
    else
        fail "$name: output differs from the Linux module's"
    fi
}

echo "== plugin_check.exe under Wine on the 64-bit DLL"
if [ -x "$wine64" ]; then
    mkdir -p "$wineprefix"
    cp "$win64/VeltranoVST.dll" "$win64/plugin_check.exe" "$work/"
    if (cd "$work" && run_wine "$wine64" plugin_check.exe VeltranoVST.dll win64.raw "$seconds" \
        >"$work/win64.txt" 2>"$work/win64.err"); then
        same_as_linux win64
    else
        cat "$work/win64.err" >&2
        fail "plugin_check.exe on the 64-bit DLL"
    fi
else
    fail "wine64 is not installed (scripts/setup.sh installs it)"
fi
timing "Wine, 64-bit"

echo "== plugin_check.exe under Wine on the 32-bit DLL"
wine32=/usr/lib/wine/wine
if ! /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "   skipped: this kernel runs no 32-bit programs (32-bit Wine cannot start)"
elif [ ! -x "$wine32" ]; then
    echo "   skipped: 32-bit Wine (Debian's wine32:i386) is not installed"
else
    cp "$win32/VeltranoVST.dll" "$work/VeltranoVST32.dll"
    cp "$win32/plugin_check.exe" "$work/plugin_check32.exe"
    if (cd "$work" && run_wine "$wine32" plugin_check32.exe VeltranoVST32.dll win32.raw \
        "$seconds" >"$work/win32.txt" 2>"$work/win32.err"); then
        same_as_linux win32
    else
        cat "$work/win32.err" >&2
        fail "plugin_check.exe on the 32-bit DLL"
    fi
fi
timing "Wine, 32-bit"

echo "== 32-bit Linux: processing tests and plugin_check"
runner=()
can_run=1
if /lib/ld-linux.so.2 --version >/dev/null 2>&1; then
    echo "   run natively (this kernel runs 32-bit programs)"
elif command -v qemu-i386-static >/dev/null 2>&1; then
    echo "   run through qemu-i386-static (this kernel runs no 32-bit programs)"
    runner=(qemu-i386-static)
else
    fail "qemu-i386-static is not installed (scripts/setup.sh installs it)"
    can_run=0
fi
if [ "$can_run" -eq 1 ]; then
    ctest --test-dir "$linux32" --output-on-failure -j "$jobs" || fail "32-bit Linux tests"
    if "${runner[@]}" "$linux32/plugin_check" "$linux32/VeltranoVST.so" "$work/linux32.raw" \
        "$seconds" >"$work/linux32.txt"; then
        same_as_linux linux32
    else
        fail "plugin_check on the 32-bit Linux module"
    fi
fi
timing "32-bit Linux"

if [ "$failed" -ne 0 ]; then
    echo "Windows and 32-bit checks: FAILED"
    exit 1
fi
echo "Windows and 32-bit checks: all passed"
