#!/usr/bin/env bash
# Runs every libFuzzer target of build-fuzz for FUZZ_SECONDS (default 60)
# each, starting from the seeds in fuzz/corpus/<target>/. New inputs found
# go to build-fuzz/corpus/<target>/ (the seeds in the tree stay as they
# are); a crash, leak or time-out leaves its input in build-fuzz/artifacts/
# and fails the run. Prints the executions each target reached.
# Usage: tools/fuzz.sh [target ...]   (default: inf regfile machinejson answers)
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="$root/build-fuzz"
seconds="${FUZZ_SECONDS:-60}"
targets=("$@")
[ ${#targets[@]} -eq 0 ] && targets=(inf regfile machinejson answers)
mkdir -p "$build/artifacts"
status=0
for t in "${targets[@]}"; do
    bin="$build/bin/fuzz_$t"
    if [ ! -x "$bin" ]; then
        echo "fuzz: $bin is not built (make fuzz builds it)" >&2
        exit 1
    fi
    work="$build/corpus/$t"
    mkdir -p "$work"
    log="$build/fuzz_$t.log"
    echo "== fuzz_$t for ${seconds}s"
    if "$bin" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=65536 -print_final_stats=1 \
        -artifact_prefix="$build/artifacts/$t-" "$work" "$root/fuzz/corpus/$t" >"$log" 2>&1; then
        runs="$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || true)"
        echo "   ${runs:-?} executions, no fault"
    else
        status=1
        echo "   FAULT: see $log and $build/artifacts/" >&2
        grep -E "ERROR|SUMMARY|Test unit written" "$log" | head -n 5 >&2 || true
    fi
done
exit $status
