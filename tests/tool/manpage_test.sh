#!/bin/sh
# SPDX-License-Identifier: MIT
# The manual page renders without a single warning in both formatters Debian
# ships (mandoc and groff), and its OPTIONS section describes every option the
# program's usage text lists, with the default the usage text states.
# Usage: manpage_test.sh MANPAGE PACELAG-BINARY
set -u
page=$1
bin=$2
for tool in mandoc groff col; do
    if ! command -v "$tool" >/dev/null 2>&1; then
        echo "skipped: $tool is not installed (scripts/deps.sh test installs it)"
        exit 77
    fi
done
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

lint=$(mandoc -Tlint -W warning "$page" 2>&1) || fail "mandoc -Tlint failed"
[ -z "$lint" ] || fail "mandoc warns: $lint"
warnings=$(groff -man -Tutf8 -ww -z "$page" 2>&1) || fail "groff failed"
[ -z "$warnings" ] || fail "groff warns: $warnings"

# The OPTIONS section as a reader sees it.
options=$(mandoc -Tutf8 "$page" | col -b | awk '/^[A-Z]/ { on = ($1 == "OPTIONS") } on')
[ -n "$options" ] || fail "no OPTIONS section"

# The usage text comes from the program: run without arguments it lists every
# option as "  -name  text".
usage=$("$bin")
listed=$(printf '%s\n' "$usage" | sed -n 's/^  -\([a-z]*\) .*/\1/p')
[ "$(printf '%s\n' "$listed" | wc -l)" -ge 6 ] || fail "usage lists too few options: $listed"
for name in $listed; do
    # An entry's tag line starts with the option, indented by one level.
    printf '%s\n' "$options" | grep -q -- "^       -$name\( \|$\)" ||
        fail "-$name is not described in OPTIONS"
    default=$(printf '%s\n' "$usage" | sed -n "s/^  -$name .*(Default: \([0-9]*\))$/\1/p")
    if [ -n "$default" ]; then
        entry=$(printf '%s\n' "$options" | awk -v tag="-$name" '
            /^       -/ { on = ($1 == tag) } on')
        printf '%s\n' "$entry" | grep -q "Default: $default\." ||
            fail "-$name: default $default not stated"
    fi
done

[ "$failures" -eq 0 ] || exit 1
echo "manual page checked: $(printf "%s\n" "$listed" | tr "\n" " ")"
