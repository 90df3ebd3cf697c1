#!/usr/bin/env bash
# The README's scale-out recipe, run small: a batch restored by GNU parallel, one file per job,
# gives the same output bytes as one `veltrano process -j 2` run over the same files.
# Usage: parallel-batch.sh VELTRANO SAMPLE.wav WORK_FOLDER   (exit 77 when parallel is missing)
set -euo pipefail
veltrano=$1
sample=$2
work=$3
if ! command -v parallel >/dev/null 2>&1; then
    echo "SKIPPED: GNU parallel is not installed (apt-get install parallel)"
    exit 77
fi
rm -rf "$work"
mkdir -p "$work/in" "$work/one-run" "$work/parallel"

# Three different recordings, one with a blank and a non-ASCII letter in its name.
"$veltrano" process "$sample" -o "$work/in/a.wav" --quiet
"$veltrano" process "$sample" -o "$work/in/b take 2.wav" --high-pass --quiet
"$veltrano" process "$sample" -o "$work/in/ç.wav" --equalizer --eq-preset high-cut --quiet
rm -f "$work"/in/*.report.txt "$work"/in/*.record.json

settings=(--hum-filter --hum-auto-track --random-noise --auto-gain)
"$veltrano" process "$work/in" -o "$work/one-run" -j 2 --quiet "${settings[@]}"

find "$work/in" -name '*.wav' -print0 |
    parallel -0 --halt never --joblog "$work/jobs.log" \
        "$veltrano" process {} -o "$work/parallel/{/.}.wav" -j 1 --quiet "${settings[@]}"

status=0
count=0
for file in "$work"/one-run/*.wav; do
    name=$(basename "$file")
    count=$((count + 1))
    if ! cmp -s "$file" "$work/parallel/$name"; then
        echo "DIFFERENT: $name"
        status=1
    fi
done
if [ "$count" -ne 3 ]; then
    echo "expected 3 outputs, found $count"
    status=1
fi
[ "$status" -eq 0 ] && echo "3 outputs byte-identical" && rm -rf "$work"
exit $status
