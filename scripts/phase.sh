#!/bin/sh
# SPDX-License-Identifier: MIT
# Runs one phase of a longer job (such as make test) and says where it is:
# a line when the phase starts and one when it ends, each with the time of
# day, the end also with its duration and result. Everything the command
# prints passes through unchanged, as it comes; when it has printed nothing
# for PHASE_QUIET_SECONDS (default 25), a line says that it is still running.
# Usage: scripts/phase.sh NAME COMMAND [ARG...]
# Exits with the command's status.
set -u
[ $# -ge 2 ] || {
    echo "usage: $0 NAME COMMAND [ARG...]" >&2
    exit 2
}
name=$1
shift
quiet=${PHASE_QUIET_SECONDS:-25}
begin=$(date +%s)
echo "== $(date +%H:%M:%S) $name: started"

tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 130' INT TERM HUP
touch "$tmp/last"
# The reader touches a file for every line, so the watch below knows when the
# command last spoke.
(
    "$@"
    echo $? >"$tmp/rc"
) 2>&1 | while IFS= read -r line || [ -n "$line" ]; do
    printf '%s\n' "$line"
    touch "$tmp/last"
done &
reader=$!

while kill -0 "$reader" 2>/dev/null; do
    sleep 1
    now=$(date +%s)
    last=$(stat -c %Y "$tmp/last" 2>/dev/null || echo "$now")
    if [ $((now - last)) -ge "$quiet" ]; then
        echo "   $(date +%H:%M:%S) $name: still running, $((now - begin)) s so far"
        touch "$tmp/last"
    fi
done
wait "$reader"
rc=$(cat "$tmp/rc" 2>/dev/null || echo 1)
took=$(($(date +%s) - begin))
if [ "$rc" -eq 0 ]; then
    echo "== $(date +%H:%M:%S) $name: done in $took s"
else
    echo "== $(date +%H:%M:%S) $name: FAILED (status $rc) after $took s"
fi
exit "$rc"
