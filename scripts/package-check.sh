#!/usr/bin/env bash
# Builds the Debian package and checks it without installing it: lintian, the files it holds, its
# declared dependencies, and, from a copy extracted into a scratch folder, that the program runs
# the demo with the packaged recording, the manual page renders, the bash completion completes,
# and a host loads the packaged plug-in.
#   scripts/package-check.sh [BUILD_DIR]      (default: build-package)
set -euo pipefail
cd "$(dirname "$0")/.."
root_dir=$PWD
build=${1:-build-package}
jobs=$(nproc 2>/dev/null || echo 2)

step_start=$SECONDS
step() {
    echo "== $1 ($((SECONDS - step_start)) s so far)"
}
fail() {
    echo "package-check: $*" >&2
    exit 1
}

# The inspector comes with the tests; only the three targets the checks use are built.
step "configure and build in $build"
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
      -DVELTRANO_TESTS=ON >/dev/null
cmake --build "$build" -j "$jobs" --target VeltranoVST veltrano vst-inspect debian_changelog
build_done=$SECONDS

step "cpack -G DEB"
rm -f "$build"/veltrano_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
version=$(sed -n 's/^project(Veltrano VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
deb=$build/veltrano_${version}_$(dpkg --print-architecture).deb
[ -f "$deb" ] || fail "no package $deb"

step "contents"
contents=$(dpkg-deb -c "$deb")
echo "$contents"
for path in /usr/bin/veltrano /usr/lib/vst/VeltranoVST.so /usr/lib/vst/VeltranoVST.html \
            /usr/share/veltrano/VeltranoVST.html /usr/share/veltrano/speech-hum-noise.wav \
            /usr/share/doc/veltrano/VeltranoVST.html /usr/share/doc/veltrano/copyright \
            /usr/share/doc/veltrano/changelog.gz \
            /usr/share/man/man1/veltrano.1.gz /usr/share/bash-completion/completions/veltrano; do
    grep -q " \.$path\( ->\|$\)" <<<"$contents" || fail "the package lacks $path"
done

step "lintian"
# Debian's own checks of a package; the one warning left is CPack's ldconfig call (see
# cmake/Package.cmake).
lint=$(lintian --tag-display-limit 0 "$deb" 2>&1 | grep -v "running with root privileges" || true)
echo "$lint"
unexpected=$(grep -E "^[EW]:" <<<"$lint" | grep -v "maintscript-calls-ldconfig" || true)
[ -z "$unexpected" ] || fail "lintian: $unexpected"

step "control"
dpkg-deb -I "$deb"
depends=$(dpkg-deb -f "$deb" Depends)
for lib in libc6 libstdc++6 libsndfile1 libfftw3 libnettle libavformat libavcodec libswresample \
           libx11-6; do
    grep -q "$lib" <<<"$depends" || fail "Depends does not name $lib: $depends"
done
[ "$(dpkg-deb -f "$deb" Section)" = sound ] || fail "section is not sound"

scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
extracted=$scratch/root
dpkg-deb -x "$deb" "$extracted"

step "links"
for link in usr/lib/vst/VeltranoVST.html usr/share/doc/veltrano/VeltranoVST.html; do
    [ -L "$extracted/$link" ] || fail "$link is not a link"
    [ "$(readlink -f "$extracted/$link")" = "$(readlink -f "$extracted/usr/share/veltrano/VeltranoVST.html")" ] ||
        fail "$link does not lead to the manual"
done

step "veltrano --version and demo"
"$extracted/usr/bin/veltrano" --version | grep -q "^veltrano $version " || fail "wrong --version"
demo_log=$("$extracted/usr/bin/veltrano" demo -o "$scratch/demo-out") || fail "demo failed"
echo "$demo_log"
grep -q "sample: *$extracted/usr/share/veltrano/speech-hum-noise.wav " <<<"$demo_log" ||
    fail "the demo did not use the packaged recording"
[ -s "$scratch/demo-out/restored.wav" ] || fail "the demo wrote no restored.wav"

step "manual page"
man_page=$extracted/usr/share/man/man1/veltrano.1.gz
warnings=$(zcat "$man_page" | groff -man -Tutf8 -ww -z 2>&1)
[ -z "$warnings" ] || fail "groff warns about the manual page: $warnings"
MANWIDTH=80 man -l "$man_page" 2>/dev/null | grep -q "restore recordings with" || fail "man -l shows no page"

step "bash completion"
completion=$extracted/usr/share/bash-completion/completions/veltrano
bash -n "$completion" || fail "the completion script does not parse"
complete_line() { # WORDS...: what completing the last word offers
    bash -c 'source "$1"; shift; COMP_WORDS=("$@"); COMP_CWORD=$(($# - 1))
             COMP_LINE="$*"; COMP_POINT=${#COMP_LINE}
             $(complete -p veltrano | sed "s/.*-F \([^ ]*\) .*/\1/"); echo "${COMPREPLY[*]}"' \
        _ "$completion" "$@"
}
[ "$(complete_line veltrano s)" = settings ] || fail "veltrano s does not complete to settings"
[ "$(complete_line veltrano settings p)" = picture ] || fail "settings p does not complete"
[ "$(complete_line veltrano process --hum-filter '')" = "on off" ] || fail "switch values"

step "the packaged plug-in through the test host"
inspect=$("$build/vst-inspect" "$extracted/usr/lib/vst/VeltranoVST.so" 44100) ||
    fail "vst-inspect could not load the packaged plug-in"
echo "$inspect"
grep -q "^magic *'VstP'" <<<"$inspect" || fail "the packaged plug-in's magic is wrong"

echo "package-check: $deb is good (checks after the build: $((SECONDS - build_done)) s)"
