#!/usr/bin/env bash
# fuzz.sh FUZZER SEEDS REGRESSIONS SECONDS: replays every input kept in REGRESSIONS (each once
# made FUZZER fail), then fuzzes for SECONDS from the seeds in SEEDS in a scratch corpus. A
# failure leaves its input as build folder's crash-*/leak-*/timeout-* file, named in the log.
set -euo pipefail
fuzzer=$1 seeds=$2 regressions=$3 seconds=$4
artifacts=$(dirname "$fuzzer")/
log=$(mktemp)
work=$(mktemp -d)
trap 'rm -rf "$work" "$log"' EXIT

shopt -s nullglob
kept=("$regressions"/*)
if [ ${#kept[@]} -gt 0 ]; then
    echo "replaying ${#kept[@]} kept findings"
    "$fuzzer" -rss_limit_mb=2560 "${kept[@]}" >"$log" 2>&1 || { tail -60 "$log"; exit 1; }
fi

if ! "$fuzzer" -max_total_time="$seconds" -rss_limit_mb=2560 -timeout=60 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$work" "$seeds" >"$log" 2>&1; then
    tail -60 "$log"
    exit 1
fi
grep -E '^#[0-9]+[[:space:]]+DONE|^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log"
