#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every benchmark program found in the given build directory.
#   BENCH="peers pacing"  only the programs whose names start with these
#   BENCH_SECONDS=3       seconds per run of the measuring programs (default 5)
#   BENCH_BUSY=N          busy loops in the comparison's contention run
#                         (default one per processor; 0 skips it)
set -e
dir=${1:-build-bench}
for b in "$dir"/*_bench "$dir"/*_measure; do
    [ -x "$b" ] || continue
    name=$(basename "$b")
    if [ -n "${BENCH:-}" ]; then
        wanted=no
        for w in $BENCH; do
            case "$name" in "$w"*) wanted=yes ;; esac
        done
        [ "$wanted" = yes ] || continue
    fi
    echo "== $name ($(uptime))"
    case "$name" in
    *_measure) "$b" ${BENCH_SECONDS:+"$BENCH_SECONDS"} ;;
    *) "$b" ;;
    esac
done
