#!/usr/bin/env bash
# render.sh PLUGIN CHECKER VELTRANO RECORDING WORK: renders RECORDING through PLUGIN inside
# Ardour 7, headless on its dummy backend, after the engine has run the plug-in for a while,
# and checks that the result equals, bit for bit, what `veltrano process` makes of the same
# input and settings (see ArdourRender.cpp). Exits 77 (skipped) when Ardour is not installed;
# scripts/test.sh installs it where it can. A PLUGIN in /usr/lib/vst (installed by the package)
# is used where it is, found on Ardour's own default search path; any other is copied into a
# folder of its own named by LXVST_PATH.
set -euo pipefail
plugin=$1 checker=$2 veltrano=$3 recording=$4 work=$5
here=$(cd "$(dirname "$0")" && pwd)

lua=$(command -v ardour7-lua || true)
scanner=/usr/lib/ardour7/ardour-vst-scanner
if [ -z "$lua" ] || [ ! -x "$scanner" ]; then
    echo "SKIPPED: Ardour 7 is not installed (apt-get install --no-install-recommends ardour)"
    exit 77
fi

# Every stage on, hum tracking too, some equalizer bands cut, non-default attenuations and gain.
settings="20=1,21=1,22=1,23=1,24=1,25=1,26=1,28=1,29=1,0=0.5,3=0.25,12=0.75,19=0.5,30=0.5,31=0.25,32=0.75,33=0.5"

rm -rf "$work" "$work.log"
mkdir -p "$work/vst" "$work/cache" "$work/config"
# Everything shown is kept beside the work folder too, for the test script to show.
exec > >(tee "$work.log") 2>&1
echo "== Ardour render: $(basename "$work")"
# Ardour's own settings and plug-in cache, not the user's.
export XDG_CACHE_HOME="$work/cache" XDG_CONFIG_HOME="$work/config"
if [ "$(dirname "$plugin")" = /usr/lib/vst ]; then
    binary=$plugin
    unset LXVST_PATH
else
    binary=$work/vst/VeltranoVST.so
    cp "$plugin" "$binary"
    export LXVST_PATH="$work/vst"
fi

# Ardour loads a Linux VST only when its out-of-process scanner has cached it, and trusts the
# cache only when it is newer, in whole seconds, than the binary.
LD_LIBRARY_PATH=/usr/lib/ardour7 "$scanner" -v -f "$binary" 2>&1 |
    grep -E 'Found Plugin|VST2Info' || { echo "Ardour's scanner did not find the plug-in"; exit 1; }
# It must also have seen the editor, or Ardour offers only its generic controls.
grep -rqs 'has_editor="1"' "$work/cache" || { echo "Ardour's scanner saw no editor"; exit 1; }
stamp=$(( $(stat -c %Y "$binary") + 2 ))
find "$work/cache" -name '*.v2i' -exec touch -d "@$stamp" {} +

read -r frames rate < <("$checker" info "$recording")
echo "recording: $recording, $frames frames at $rate Hz"

run_lua() {
    local log=$1
    shift
    timeout 300 "$lua" "$@" >"$log" 2>&1 || true
    grep '^ARDOUR' "$log" || true
}

run_lua "$work/prepare.log" "$here/prepare.lua" "$work/session" session "$rate" "$frames"
grep -q '^ARDOUR prepared' "$work/prepare.log" || { cat "$work/prepare.log"; exit 1; }
audio="$work/session/interchange/session/audiofiles"
"$checker" input "$recording" "$audio/input%L.wav" "$audio/input%R.wav"
rm -rf "$work/session/peaks"/*

run_lua "$work/render.log" "$here/render.lua" "$work/session" session "$settings" "$frames"
grep -q '^ARDOUR done' "$work/render.log" || { cat "$work/render.log"; exit 1; }

fact() { sed -n "s/^ARDOUR $1 //p" "$work/render.log" | head -1; }
[ "$(fact parameters)" = 35 ] || { echo "Ardour sees $(fact parameters) parameters, not 35"; exit 1; }
[ "$(fact inputs)" = "2 outputs 2" ] || { echo "Ardour sees inputs $(fact inputs)"; exit 1; }
latency=$(fact latency)
outputs=($(sed -n 's/^ARDOUR output //p' "$work/render.log"))
[ ${#outputs[@]} -eq 2 ] || { echo "expected two rendered channels"; exit 1; }

echo "Ardour saw: $(fact plugin); $(fact parameters) parameters; inputs $(fact inputs); latency $latency frames"
"$checker" command "$recording" "$settings" "$work/stereo.wav" "$work/settings.txt"
"$veltrano" process "$work/stereo.wav" -o "$work/command.wav" --settings "$work/settings.txt" \
    --quiet
"$checker" compare "$plugin" "$latency" "$work/command.wav" \
    "$audio/${outputs[0]}" "$audio/${outputs[1]}"
