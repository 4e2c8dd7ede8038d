#!/bin/sh
# SPDX-License-Identifier: MIT
# Writes a Debian changelog (debian/changelog format) from CHANGELOG.md: one
# entry per released version, newest first, items wrapped to 80 columns. The
# [Unreleased] section is left out; it belongs to no package version yet.
# Usage: debian-changelog.sh CHANGELOG.md PACKAGE REVISION MAINTAINER OUT
#   OUT ending in .gz is compressed with gzip -9n (no name, no time stamp).
# Fails when CHANGELOG.md has no released version.
set -eu
[ $# -eq 5 ] || {
    echo "usage: $0 CHANGELOG.md PACKAGE REVISION MAINTAINER OUT" >&2
    exit 2
}
changelog=$1 package=$2 revision=$3 maintainer=$4 out=$5

tmp=$(mktemp) || exit 1
trap 'rm -f "$tmp" "$tmp.dates"' EXIT

# The awk pass writes entries with a placeholder for each date; the dates are
# turned into RFC 2822 by date(1) below, as dpkg-parsechangelog wants them.
awk -v package="$package" -v revision="$revision" -v maintainer="$maintainer" \
    -v dates="$tmp.dates" '
function plain(s) {
    gsub(/`/, "", s)
    # [text](link) -> text
    while (match(s, /\[[^]]*\]\([^)]*\)/)) {
        inner = substr(s, RSTART + 1, RLENGTH - 2)
        sub(/\]\(.*/, "", inner)
        s = substr(s, 1, RSTART - 1) inner substr(s, RSTART + RLENGTH)
    }
    return s
}
# One item: "  * " then words wrapped at 79 columns, continued with 4 blanks.
function flush(   n, i, words, line) {
    if (item == "") return
    n = split(plain(item), words, /[ \t]+/)
    line = "  *"
    for (i = 1; i <= n; i++) {
        if (words[i] == "") continue
        if (length(line) + 1 + length(words[i]) > 79 && line != "  *" && line != "   ") {
            print line
            line = "   "
        }
        line = line " " words[i]
    }
    print line
    item = ""
}
function close_entry() {
    flush()
    if (!open) return
    print ""
    printf " -- %s  @DATE%d@\n", maintainer, entries
    open = 0
}
/^## \[/ {
    close_entry()
    version = $0
    sub(/^## \[/, "", version)
    sub(/\].*/, "", version)
    if (tolower(version) == "unreleased") { skip = 1; next }
    date = $0
    if (!sub(/.*\] - /, "", date) || date !~ /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9]$/) {
        printf "%s: version %s has no date (## [%s] - YYYY-MM-DD)\n", FILENAME, version, version > "/dev/stderr"
        failed = 1
        exit 1
    }
    skip = 0
    if (entries > 0) print ""
    entries++
    print date > dates
    printf "%s (%s-%s) unstable; urgency=medium\n\n", package, version, revision
    open = 1
    kind = ""
    next
}
skip || !open { next }
/^### / { flush(); kind = substr($0, 5); next }
/^- / {
    flush()
    item = (kind != "" && kind != "Added" ? kind ": " : "") substr($0, 3)
    next
}
/^[ \t]+[^ \t]/ && item != "" { sub(/^[ \t]+/, ""); item = item " " $0; next }
/^[ \t]*$/ { flush(); next }
END {
    if (failed) exit 1
    close_entry()
    if (entries == 0) {
        print "no released version in " FILENAME > "/dev/stderr"
        exit 1
    }
}' "$changelog" >"$tmp"

n=0
while read -r day; do
    n=$((n + 1))
    stamp=$(LC_ALL=C date -u -d "$day" -R)
    sed -i "s/@DATE$n@/$stamp/" "$tmp"
done <"$tmp.dates"

case "$out" in
*.gz) gzip -9n <"$tmp" >"$out" ;;
*) cp "$tmp" "$out" ;;
esac
