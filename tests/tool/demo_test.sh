#!/bin/sh
# SPDX-License-Identifier: MIT
# The demo as a user meets it: labelled lines from both sides arrive while it
# runs (not all at the end), it stops both sides after its time or on Ctrl-C,
# and its summary agrees with the lines it showed.
# Usage: demo_test.sh DEMO-SCRIPT PACELAG-BINARY
set -u
demo=$1
bin=$2
work=$(mktemp -d) || exit 1
pid=
trap '[ -n "$pid" ] && kill -TERM "$pid" 2>/dev/null; rm -rf "$work"' EXIT
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# Waits up to $2 tenths of a second for process $1 to end.
ended_within() {
    n=0
    while kill -0 "$1" 2>/dev/null; do
        [ "$n" -ge "$2" ] && return 1
        sleep 0.1
        n=$((n + 1))
    done
}

# Recomputes the summary from the labelled lines of $1 and compares.
check_summary() {
    out=$1
    high=$(sed -n 's/^server | age \(-*[0-9]*\)$/\1/p' "$out" | sort -n | tail -n 1)
    marks=$(sed -n 's/^client | *[0-9]* s \([#.]*\)$/\1/p' "$out" | tr -d '\n')
    grep -q "^highest age: $high s$" "$out" || fail "highest age is not $high"
    [ -n "$marks" ] || fail "no rows of marks"
    before=${marks%%.*}
    if [ "$before" = "$marks" ]; then
        grep -q '^first ".": none in' "$out" || fail "a \".\" is reported though none was shown"
        return
    fi
    first=$((${#before} + 1))
    rest=${marks#"$before"}
    dots=$(printf '%s' "$rest" | tr -cd '.' | wc -c)
    total=${#rest}
    # The rows hold one second each; row lengths tell how many marks that is.
    per_second=$(sed -n 's/^client | *1 s \([#.]*\)$/\1/p' "$out" | head -n 1 | tr -d '\n' | wc -c)
    second=$(((first - 1) / per_second + 1))
    percent=$(((200 * dots / total + 1) / 2))
    grep -q "^first \".\": second $second (mark $first of ${#marks})$" "$out" ||
        fail "first \".\" is not second $second, mark $first of ${#marks}"
    grep -q "^\".\" from then on: $dots of $total marks ($percent %)$" "$out" ||
        fail "share of \".\" is not $dots of $total ($percent %)"
}

# 1. A short run with a client ten times faster than its server, so that the
# buffers fill within it. Halfway through, both sides must already show.
out=$work/run.out
DEMO_SECONDS=6 DEMO_CLIENT_RATE=20 "$demo" "$bin" >"$out" 2>&1 &
pid=$!
sleep 3.5
kill -0 "$pid" 2>/dev/null || fail "the demo ended early"
grep -q '^server | age [0-9]' "$out" || fail "no age shown while running"
grep -q '^client | *[0-9]* s [#.]' "$out" || fail "no marks shown while running"
if ended_within "$pid" 150; then
    wait "$pid"
    status=$?
    pid=
    [ "$status" -eq 0 ] || fail "the demo exited with $status"
    grep -q '^"\." from then on' "$out" || fail "the buffers never filled"
    check_summary "$out"
else
    fail "the demo did not end"
fi
cat "$out"

# 2. Interrupted like Ctrl-C (here the signal reaches the script only, which
# then stops both sides itself): prompt end, same summary, nothing left behind.
out=$work/interrupted.out
# A job started with & ignores SIGINT; a terminal's job does not.
DEMO_SECONDS=60 env --default-signal=INT "$demo" "$bin" >"$out" 2>&1 &
pid=$!
sleep 3
kill -INT "$pid"
if ended_within "$pid" 50; then
    wait "$pid"
    pid=
    grep -q '^== summary' "$out" || fail "no summary after an interrupt"
    check_summary "$out"
    port=$(sed -n 's/^server: .* -port \([0-9]*\) .*/\1/p' "$out")
    [ -n "$port" ] || fail "no server command shown"
    if [ -n "$port" ] && pgrep -f -- "-port $port -rate" >/dev/null; then
        fail "a pacelag process outlived the demo"
    fi
else
    fail "the demo did not stop on SIGINT"
fi
cat "$out"

[ "$failures" -eq 0 ] || exit 1
echo "demo test passed"
