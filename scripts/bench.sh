#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs every benchmark program found in the given build directory.
set -e
dir=${1:-build-bench}
for b in "$dir"/*_bench "$dir"/*_measure; do
    [ -x "$b" ] || continue
    echo "== $(basename "$b")"
    "$b"
done
