#!/bin/bash
# SPDX-License-Identifier: MIT
# Runs a pacelag server at 2 messages per second and a client at 4 on loopback,
# with small socket buffers on both sides, and shows what both print as it
# happens, each line labelled with its side: the server's ages climb while the
# buffers fill and then level off, and the client's marks turn from "#" to "."
# once its send queue is full. After DEMO_SECONDS (default 30) or Ctrl-C both
# are stopped with a signal and a summary computed from the shown lines follows.
#
# Usage: scripts/demo.sh [path to pacelag]
# Environment: DEMO_SECONDS, DEMO_SERVER_RATE, DEMO_CLIENT_RATE, DEMO_BUFLEN.
# shellcheck disable=SC2317 # the labellers and cleanup are called indirectly
set -u
bin=${1:-build/pacelag}
seconds=${DEMO_SECONDS:-30}
server_rate=${DEMO_SERVER_RATE:-2}
client_rate=${DEMO_CLIENT_RATE:-4}
buflen=${DEMO_BUFLEN:-2048}
[ -x "$bin" ] || { echo "demo: $bin not found; run make first" >&2; exit 1; }

# The client prints one mark for every cadence-th message; a row of marks
# holds one second's worth.
cadence=$((client_rate / 24))
[ "$cadence" -ge 1 ] || cadence=1
per_second=$((client_rate / cadence))

work=$(mktemp -d) || exit 1
shown=$work/shown # every labelled line, in the order shown
server_pid=
client_pid=
timer_pid=
stopping=
: >"$shown"

show() {
    printf '%s\n' "$1" >>"$shown"
    printf '%s\n' "$1"
}

# Server lines as they come; a line that is only a number is an age.
label_server() {
    local line
    while IFS= read -r line; do
        case $line in
        '' | *[!0-9-]*) show "server | $line" ;;
        *) show "server | age $line" ;;
        esac
    done
}

# The client's marks come one byte at a time without a line end: they are
# shown one second's row at a time, numbered by the second that row ends.
label_client() {
    local c marks='' text='' row=0
    while IFS= read -r -n 1 -d '' c || [ -n "$c" ]; do
        if [ -z "$text" ] && { [ "$c" = '#' ] || [ "$c" = '.' ]; }; then
            marks+=$c
            if [ "${#marks}" -ge "$per_second" ]; then
                row=$((row + 1))
                show "client | $(printf '%3d' "$row") s $marks"
                marks=''
            fi
        elif [ "$c" = $'\n' ]; then
            if [ -n "$marks" ]; then
                row=$((row + 1))
                show "client | $(printf '%3d' "$row") s $marks"
                marks=''
            fi
            [ -n "$text" ] && show "client | $text"
            text=''
        else
            text+=$c
        fi
    done
    [ -n "$marks" ] && show "client | $(printf '%3d' $((row + 1))) s $marks"
    [ -n "$text" ] && show "client | $text"
}

# Starts `pacelag "$@"` with its output labelled; sets started_pid.
start() {
    local side=$1
    shift
    rm -f "$work/$side.fifo"
    mkfifo "$work/$side.fifo" || exit 1
    "label_$side" <"$work/$side.fifo" &
    "$bin" "$@" >"$work/$side.fifo" &
    started_pid=$!
}

stop_all() {
    local pid
    for pid in $timer_pid $client_pid $server_pid; do
        kill -TERM "$pid" 2>/dev/null
    done
}

cleanup() {
    stop_all
    wait
    rm -rf "$work"
}
trap cleanup EXIT
# Ctrl-C reaches the pacelag processes too (they stop by themselves); the
# script stops what is left and still shows the summary.
trap 'stopping=1; stop_all' INT TERM HUP

echo "demo: a server reading $server_rate messages/s and a client sending $client_rate/s on loopback,"
echo "      socket buffers of $buflen bytes, for $seconds s (Ctrl-C stops them sooner)"
echo "      age = seconds a message waited; # = sent whole, . = dropped because the send queue was full"

# A random port; a few more tries if it is taken.
port=
for try in 1 2 3 4 5; do
    candidate=$((20000 + (RANDOM * 7 + try * 7919) % 40000))
    : >"$shown"
    start server -mode server -port "$candidate" -rate "$server_rate" -buflen "$buflen"
    server_pid=$started_pid
    for _ in $(seq 40); do
        grep -q 'Waiting for connection' "$shown" && break
        sleep 0.05
    done
    sleep 0.2
    if kill -0 "$server_pid" 2>/dev/null && ! grep -q 'ERROR' "$shown"; then
        port=$candidate
        break
    fi
    wait "$server_pid" 2>/dev/null
    server_pid=
    [ -n "$stopping" ] && exit 1
    echo "demo: port $candidate is taken, trying another"
done
[ -n "$port" ] || { echo "demo: no free port found" >&2; exit 1; }

echo "server: pacelag -mode server -port $port -rate $server_rate -buflen $buflen"
echo "client: pacelag -mode client -host 127.0.0.1 -port $port -rate $client_rate -buflen $buflen"
if [ -z "$stopping" ]; then
    start client -mode client -host 127.0.0.1 -port "$port" -rate "$client_rate" -buflen "$buflen"
    client_pid=$started_pid
    sleep "$seconds" &
    timer_pid=$!
    wait "$timer_pid"
fi
stop_all
# A wait cut short by a signal returns early; wait again until each is gone.
for pid in $client_pid $server_pid; do
    while kill -0 "$pid" 2>/dev/null; do wait "$pid"; done
done
wait # the labellers finish once both outputs are closed
client_pid=
server_pid=
timer_pid=

echo
echo "== summary (from the lines above)"
awk -v per_second="$per_second" '
    $1 == "server" && $3 == "age" { if (!seen || $4 > high) high = $4; seen = 1 }
    $1 == "client" && $4 == "s" { marks = marks $5 }
    END {
        if (seen) printf "highest age: %d s\n", high
        else print "highest age: none printed"
        first = index(marks, ".")
        if (first == 0) {
            printf "first \".\": none in %d marks (the buffers never filled)\n", length(marks)
            exit
        }
        after = substr(marks, first)
        dots = gsub(/\./, "", after)
        total = length(marks) - first + 1
        printf "first \".\": second %d (mark %d of %d)\n", int((first - 1) / per_second) + 1,
            first, length(marks)
        printf "\".\" from then on: %d of %d marks (%d %%)\n", dots, total, int(100 * dots / total + 0.5)
    }' "$shown"
exit 0
