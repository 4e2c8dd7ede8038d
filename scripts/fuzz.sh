#!/bin/sh
# SPDX-License-Identifier: MIT
# Builds the libFuzzer targets with clang and runs them.
# Usage: scripts/fuzz.sh check   each target over its seed corpus, then a short
#                                bounded run (FUZZ_CHECK_SECONDS, default 10)
#        scripts/fuzz.sh run     each target for FUZZ_SECONDS (default 60)
#        scripts/fuzz.sh ... [target...]   only the named targets
# Prints executions and findings per target; exits non-zero on any finding.
# FUZZ_PARALLEL=n runs n targets at once, each on one core.
# New inputs go to a scratch corpus in the build directory, never into the tree;
# a failing input is kept there as crash-*/leak-*/timeout-* to be copied into
# fuzz/corpus/<target>/ once the fault is mended.
set -u
mode=${1:-check}
[ $# -gt 0 ] && shift
root=$(cd "$(dirname "$0")/.." && pwd)
build=${FUZZ_BUILD:-$root/build-fuzz}
jobs=${JOBS:-2}

case "$mode" in
check) seconds=${FUZZ_CHECK_SECONDS:-10} ;;
run) seconds=${FUZZ_SECONDS:-60} ;;
*) echo "usage: $0 check|run [target...]" >&2; exit 2 ;;
esac

"$root/scripts/deps.sh" fuzz || exit 1

if [ $# -gt 0 ]; then
    targets="$*"
else
    targets=""
    for f in "$root"/fuzz/*_fuzz.cpp; do
        f=${f##*/}
        targets="$targets ${f%.cpp}"
    done
fi

# shellcheck disable=SC2086
(cd "$root" && JOBS=$jobs scripts/build.sh "$build" \
    "-DCMAKE_CXX_COMPILER=clang++ -DCMAKE_BUILD_TYPE=RelWithDebInfo -DPACELAG_FUZZ=ON -DPACELAG_TESTS=OFF" \
    $targets) || exit 1

# One target: its seeds first (a regression test of every input that ever
# failed), then fresh inputs; -timeout and -rss_limit_mb turn a hang or a
# blow-up into a finding. Leaves one summary line in $out/result.
run_one() {
    t=$1
    seeds="$root/fuzz/corpus/$t"
    work="$build/corpus/$t"
    out="$build/out/$t"
    mkdir -p "$work" "$out/earlier" "$seeds"
    # Findings count per run; those of earlier runs are kept aside.
    for f in "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-* "$out"/slow-unit-*; do
        [ -e "$f" ] && mv "$f" "$out/earlier/"
    done
    log="$out/fuzz.log"
    "$build/$t" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=1024 -max_len=4096 \
        -print_final_stats=1 -artifact_prefix="$out/" "$work" "$seeds" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    findings=0
    for f in "$out"/crash-* "$out"/leak-* "$out"/timeout-* "$out"/oom-* "$out"/slow-unit-*; do
        [ -e "$f" ] && findings=$((findings + 1))
    done
    if [ "$rc" -ne 0 ]; then
        echo "$t: FAILED after ${execs:-?} executions, $findings finding(s); see $log"
        grep -E '^(==[0-9]+==ERROR|SUMMARY|.*property does not hold)' "$log" | head -5
    else
        echo "$t: ${execs:-?} executions in ${seconds} s, $findings finding(s)"
    fi >"$out/result"
    return $rc
}

# FUZZ_PARALLEL targets at a time (default 1: the machine may be shared). Each
# target's line shows as soon as its batch is done.
parallel=${FUZZ_PARALLEL:-1}
rm -f "$build"/out/*/result
failed=0
count=0
# shellcheck disable=SC2086  # one word per target
set -- $targets
while [ $# -gt 0 ]; do
    batch=""
    size=0
    while [ $# -gt 0 ] && [ "$size" -lt "$parallel" ]; do
        run_one "$1" &
        batch="$batch $1"
        size=$((size + 1))
        shift
    done
    wait
    for t in $batch; do
        count=$((count + 1))
        cat "$build/out/$t/result"
        grep -q FAILED "$build/out/$t/result" && failed=$((failed + 1))
    done
done
echo "fuzzing: $count target(s), $failed failed"
[ "$failed" -eq 0 ]
