#!/bin/sh
# SPDX-License-Identifier: MIT
# The licence reaches every file and every package: each tracked source,
# header, script, CMake file, manual page and file under dist/ names it with an
# SPDX line near its top, and the packages' copyright file carries the text of
# LICENSE word for word.
# Usage: licence_test.sh <source dir> <build dir>
set -u
srcdir=$1 builddir=$2
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

grep -q '^Copyright (c) 2026 The pacelag developers$' "$srcdir/LICENSE" ||
    fail "LICENSE does not name the copyright holders"
grep -q '^MIT License$' "$srcdir/LICENSE" || fail "LICENSE is not the MIT licence"

# The copyright file's licence paragraph, with its one-blank indent and "."
# lines undone, is the text of LICENSE from its permission notice on.
copyright=$builddir/debian/copyright
if [ -f "$copyright" ]; then
    head -n 1 "$copyright" |
        grep -q '^Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/$' ||
        fail "copyright: not machine-readable"
    sed -n '/^License: Expat$/,$p' "$copyright" | tail -n +2 | sed -n '/^ /p' |
        sed 's/^ //; s/^\.$//' >"$builddir/licence-from-copyright.txt"
    sed -n '/^Permission is hereby granted/,$p' "$srcdir/LICENSE" |
        cmp -s - "$builddir/licence-from-copyright.txt" ||
        fail "copyright: the licence text differs from LICENSE"
    rm -f "$builddir/licence-from-copyright.txt"
else
    fail "no $copyright"
fi

if ! command -v git >/dev/null 2>&1 || ! git -C "$srcdir" rev-parse --git-dir >/dev/null 2>&1; then
    echo "SKIP: $srcdir is not a git checkout, so its tracked files are unknown"
    [ "$failures" -eq 0 ] || exit 1
    exit 77
fi
checked=0
for file in $(git -C "$srcdir" ls-files -- '*.cpp' '*.h' '*.in' '*.sh' '*.cmake' \
    '*CMakeLists.txt' Makefile '*.1' .ci scripts dist); do
    [ -f "$srcdir/$file" ] || continue # deleted, not yet committed
    checked=$((checked + 1))
    head -n 3 "$srcdir/$file" | grep -q 'SPDX-License-Identifier: MIT$' ||
        fail "$file has no SPDX-License-Identifier: MIT line at its top"
done
[ "$checked" -ge 100 ] || fail "only $checked files checked"

[ "$failures" -eq 0 ] || exit 1
echo "licence checked in $checked files and the copyright file"
