#!/usr/bin/env bash
# What the case report costs, from one run each (figures are noisy; compare ratios):
#   report-cost.sh PROGRAM time [MINUTES [RUNS]]   a stereo 44.1 kHz file of MINUTES (default
#                                           10) processed with a residue, with and without the
#                                           report, RUNS times each in turn (default 3): the
#                                           medians of elapsed and CPU seconds and their ratio
#   report-cost.sh PROGRAM memory HOURS...  a mono 22.05 kHz file of each length processed
#                                           with the report and a residue: peak resident size
# Needs sox and GNU time; works in a scratch folder under ${TMPDIR:-/tmp}, removed at the end.
set -euo pipefail

program=$(realpath "$1")
mode=$2
shift 2
scratch=$(mktemp -d "${TMPDIR:-/tmp}/report-cost.XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cd "$scratch"
settings=(--hum-filter on --hum-auto-track on --random-noise on --auto-gain on -q -j1)

run() { # label, then the program's arguments; prints "label elapsed cpu peak-kB"
    local label=$1
    shift
    /usr/bin/time -f "%e %U %S %M" -o times "$program" "$@"
    read -r elapsed user system peak <times
    echo "$label $elapsed $(awk "BEGIN { print $user + $system }") $peak"
}

case $mode in
time)
    minutes=${1:-10}
    runs=${2:-3}
    sox -n -r 44100 -c 2 -b 16 in.wav synth "$((minutes * 60))" pinknoise vol 0.3
    echo "$minutes min stereo 44.1 kHz, with residue: elapsed s, CPU s, peak kB"
    for ((i = 0; i < runs; ++i)); do
        run with process in.wav -o a.wav --residue ra.wav "${settings[@]}" | tee -a with
        run without process in.wav -o b.wav --residue rb.wav --no-html "${settings[@]}" |
            tee -a without
        rm -f a.* ra.wav b.* rb.wav
    done
    median() { # column of a file
        sort -n -k "$2" "$1" | awk -v c="$2" '{ v[NR] = $c } END { print v[int((NR + 1) / 2)] }'
    }
    e1=$(median with 2)
    c1=$(median with 3)
    e0=$(median without 2)
    c0=$(median without 3)
    awk -v e1="$e1" -v e0="$e0" -v c1="$c1" -v c0="$c0" 'BEGIN {
        printf "  report adds %.1f %% elapsed, %.1f %% CPU\n", 100 * (e1 - e0) / e0, 100 * (c1 - c0) / c0 }' 
    ;;
memory)
    for hours in "$@"; do
        sox -n -r 22050 -c 1 -b 16 in.wav synth "$((hours * 3600))" pinknoise vol 0.3
        echo "$hours h mono 22.05 kHz, report and residue: $(run "" process in.wav -o out.wav \
            --residue res.wav "${settings[@]}" | awk '{print $1 " s, peak " $3 " kB"}'), page" \
            "$(stat -c %s out.report.html) bytes"
        rm -f in.wav out.* res.wav
    done
    ;;
*)
    echo "usage: report-cost.sh PROGRAM time [MINUTES] | memory HOURS..." >&2
    exit 2
    ;;
esac
