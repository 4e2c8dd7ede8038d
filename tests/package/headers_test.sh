#!/bin/sh
# SPDX-License-Identifier: MIT
# Every public header stands alone: a translation unit that includes it first
# (twice, to catch a missing include guard) compiles with g++ and clang++ under
# strict warnings. Headers that declare library routines also mark them for
# export, or the shared library would hide them.
# Usage: headers_test.sh <include dir> <generated include dir>
set -u
incdir=$1 gendir=$2
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

compilers=""
missing=""
for cxx in g++ clang++; do
    if command -v "$cxx" >/dev/null 2>&1; then compilers="$compilers $cxx"; else missing="$missing $cxx"; fi
done
[ -n "$compilers" ] || { echo "SKIP: neither g++ nor clang++ is installed"; exit 77; }

failures=0
headers=$( (cd "$incdir" && find pacelag -name '*.h') && (cd "$gendir" && find pacelag -name '*.h'))
for header in $headers; do
    tu=$tmp/$(echo "$header" | tr '/.' '__').cpp
    printf '#include "%s"\n#include "%s"\n' "$header" "$header" >"$tu"
    for cxx in $compilers; do
        if ! "$cxx" -std=c++17 -Wall -Wextra -Wpedantic -Werror -fsyntax-only \
            -I"$incdir" -I"$gendir" "$tu" >"$tmp/log" 2>&1; then
            echo "FAIL: $header with $cxx:"
            cat "$tmp/log"
            failures=$((failures + 1))
        fi
    done
    case $header in
    pacelag/util/*)
        if ! grep -q '^#pragma GCC visibility push(default)' "$incdir/$header" ||
            ! grep -q '^#pragma GCC visibility pop' "$incdir/$header"; then
            echo "FAIL: $header does not mark its declarations for export"
            failures=$((failures + 1))
        fi
        ;;
    esac
done

[ "$failures" -eq 0 ] || exit 1
echo "$(echo "$headers" | wc -w) headers stand alone with:$compilers"
if [ -n "$missing" ]; then
    echo "SKIP: not installed:$missing (scripts/deps.sh test installs it)"
    exit 77
fi
