#!/bin/sh
# Runs a pacelag server at 2 messages per second and a client at 4 on loopback
# with small socket buffers for about 15 seconds, then stops both with SIGTERM
# and shows what each printed: the server's ages grow while the buffers fill,
# and the client's marks turn from "#" to "." once its send queue is full.
set -u
bin=${1:-build/pacelag}
seconds=${DEMO_SECONDS:-15}
[ -x "$bin" ] || { echo "demo: $bin not found; run make first" >&2; exit 1; }

work=$(mktemp -d)
server_pid=
client_pid=
cleanup() {
    for pid in $client_pid $server_pid; do
        kill -TERM "$pid" 2>/dev/null
    done
    for pid in $client_pid $server_pid; do
        wait "$pid" 2>/dev/null
    done
    rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP

# Try a few ports until the server manages to bind one.
port=
for try in 1 2 3 4 5 6 7 8 9 10; do
    candidate=$(( 20000 + ($$ * 7 + try * 7919) % 40000 ))
    "$bin" -mode server -port "$candidate" -rate 2 -buflen 2048 >"$work/server.out" &
    server_pid=$!
    sleep 0.5
    if grep -q "ERROR" "$work/server.out"; then
        wait "$server_pid" 2>/dev/null
        server_pid=
        continue
    fi
    port=$candidate
    break
done
[ -n "$port" ] || { echo "demo: no free port found" >&2; exit 1; }

echo "server: $bin -mode server -port $port -rate 2 -buflen 2048"
echo "client: $bin -mode client -host 127.0.0.1 -port $port -rate 4 -buflen 2048"
echo "running both for $seconds seconds..."
"$bin" -mode client -host 127.0.0.1 -port "$port" -rate 4 -buflen 2048 >"$work/client.out" &
client_pid=$!
sleep "$seconds"

kill -TERM "$client_pid" "$server_pid"
wait "$client_pid"
wait "$server_pid"
client_pid=
server_pid=

echo
echo "== server output (age in seconds of every message it read)"
cat "$work/server.out"
echo
echo "== client output (one mark per message: # sent whole, . dropped on a full queue)"
cat "$work/client.out"
exit 0
