#!/bin/sh
# SPDX-License-Identifier: MIT
# The systemd units: both pass `systemd-analyze verify` and rate 2.0 or lower
# in `systemd-analyze security --offline=true`; every variable their command
# lines use is set in their defaults files; those command lines, with the
# shipped defaults, start the programs. As root it also runs watch the way
# the sandbox leaves it (an unprivileged user without capabilities, in a user
# namespace of its own) and checks that it sees the same connections, with
# their TCP details, as an unconfined watch.
# Usage: units_test.sh <dist dir> <pacelag> <pacelag-lab> <built man pages dir>
set -u
dist=$1 pacelag=$2 lab=$3 man=$4
if ! command -v systemd-analyze >/dev/null 2>&1; then
    echo "SKIP: systemd-analyze is not installed (it comes with systemd)"
    exit 77
fi
tmp=$(mktemp -d) || exit 1
pids=""
cleanup() {
    for p in $pids; do kill "$p" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf "$tmp"
}
trap cleanup EXIT
trap 'exit 1' INT TERM HUP
failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

# The units as installed, pointing at this build's programs.
mkdir "$tmp/bin" "$tmp/units"
ln -s "$pacelag" "$tmp/bin/pacelag"
ln -s "$lab" "$tmp/bin/pacelag-lab"
# verify opens the manual pages the units name: this build's, as installed.
mkdir -p "$tmp/man/man1"
ln -s "$man/pacelag.1" "$man/pacelag-lab.1" "$tmp/man/man1/"
export MANPATH="$tmp/man"
for unit in pacelag-server.service pacelag-watch@.service; do
    sed -e "s|@PACELAG_BINDIR@|$tmp/bin|g" -e "s|@PACELAG_DEFAULTS_DIR@|$dist|g" \
        "$dist/$unit.in" >"$tmp/units/$unit"
done
cp "$tmp/units/pacelag-watch@.service" "$tmp/units/pacelag-watch@5000.service"
server=$tmp/units/pacelag-server.service
watch=$tmp/units/pacelag-watch@5000.service

# verify also loads the host's units that the targets pull in; only what it
# says about these units counts.
out=$(systemd-analyze verify "$server" "$watch" 2>&1) || fail "systemd-analyze verify: $out"
mine=$(printf '%s\n' "$out" | grep 'pacelag')
[ -z "$mine" ] || fail "systemd-analyze verify reports: $mine"

for unit in "$server" "$watch"; do
    report=$(systemd-analyze security --offline=true "$unit" 2>&1)
    level=$(printf '%s\n' "$report" | sed -n 's/.*Overall exposure level for [^:]*: \([0-9.]*\).*/\1/p')
    if [ -z "$level" ]; then
        fail "no exposure level for $(basename "$unit"): $report"
        continue
    fi
    echo "$(basename "$unit"): exposure $level"
    awk -v l="$level" 'BEGIN { exit !(l <= 2.0) }' || fail "$(basename "$unit") rates $level, above 2.0"
done

# Each ${VAR} of a command line is set by its defaults file and by the unit.
for pair in "pacelag-server.service:pacelag-server" "pacelag-watch@.service:pacelag-watch"; do
    unit=$tmp/units/${pair%%:*} defaults=$dist/${pair#*:}.default
    for var in $(sed -n 's/^ExecStart=//p' "$unit" | grep -o '\${[A-Z_]*}' | tr -d '${}'); do
        grep -q "^$var=" "$defaults" || fail "$var is not set in $(basename "$defaults")"
        grep -q "^Environment=.*\b$var=" "$unit" || fail "$var has no default in $(basename "$unit")"
    done
done

# The command line as systemd would run it, with the shipped defaults and the
# given overrides; ${VAR} stays one word even when empty, as systemd keeps it.
run_unit() {
    unit=$1 defaults=$2 instance=$3 overrides=$4
    line=$(sed -n 's/^ExecStart=//p' "$unit" | sed -e 's/\${\([A-Z_]*\)}/"${\1}"/g' -e "s/%i/$instance/g")
    (
        set -a
        . "$defaults"
        eval "$overrides"
        eval "exec $line"
    ) >"$tmp/run.out" 2>&1 &
    pids="$pids $!"
}
port=$(awk 'BEGIN { srand(); print 20000 + int(rand() * 20000) }')
run_unit "$server" "$dist/pacelag-server.default" "" "PORT=$port"
run_unit "$watch" "$dist/pacelag-watch.default" "$port" "METRICS=127.0.0.1:0"
sleep 1
for p in $pids; do
    kill -0 "$p" 2>/dev/null || fail "a unit's command line did not keep running: $(cat "$tmp/run.out")"
done
grep -q 'Usage' "$tmp/run.out" && fail "a unit's command line was refused: $(cat "$tmp/run.out")"
grep -q 'metrics on http://127.0.0.1:' "$tmp/run.out" || fail "watch did not serve: $(cat "$tmp/run.out")"

# What the sandbox costs watch: run it as the unit leaves it, beside an
# unconfined one, against a server that reads slower than its client sends.
if [ "$(id -u)" = 0 ] && command -v setpriv >/dev/null && command -v unshare >/dev/null; then
    "$pacelag" -mode client -host 127.0.0.1 -port "$port" -rate 50 >/dev/null 2>&1 &
    pids="$pids $!"
    sleep 2
    timeout -s INT 3 "$lab" watch -port "$port" -interval 500 >"$tmp/free.out" 2>&1
    timeout -s INT 3 setpriv --reuid=65534 --regid=65534 --clear-groups --no-new-privs \
        --inh-caps=-all --bounding-set=-all unshare --user \
        "$lab" watch -port "$port" -interval 500 >"$tmp/boxed.out" 2>&1
    # Connections seen (local -> remote) and whether TCP details came along
    # (a congestion window above 0).
    seen() { awk '$3 == "->" && $5 == "ESTAB" { print $2, $4, ($11 > 0) }' "$1" | sort -u; }
    free=$(seen "$tmp/free.out") boxed=$(seen "$tmp/boxed.out")
    [ -n "$free" ] || fail "the unconfined watch saw nothing: $(cat "$tmp/free.out")"
    [ "$free" = "$boxed" ] || fail "the sandboxed watch sees '$boxed', the unconfined one '$free'"
    echo "sandboxed watch sees: $(echo "$boxed" | wc -l) connections, as the unconfined one"
else
    echo "not root (or no setpriv/unshare): the sandboxed watch was not compared"
fi

[ "$failures" -eq 0 ] || exit 1
echo "units checked"
