#!/bin/sh
# SPDX-License-Identifier: MIT
# Configures and builds one build directory without flooding the terminal:
# cmake's own output goes to configure.log and build.log in that directory and
# only a few lines of progress show, plus any compiler warnings. On a failure
# the relevant part of the log is shown. VERBOSE=1 shows everything as usual.
# Usage: scripts/build.sh DIR "CMAKE-CONFIGURE-ARGS" [TARGET...]
#   (no target: everything the configuration builds)
set -u
dir=$1
config=$2
shift 2
targets="$*"
jobs=${JOBS:-2}

if [ "${VERBOSE:-0}" = 1 ]; then
    # shellcheck disable=SC2086
    cmake -S . -B "$dir" $config || exit 1
    # shellcheck disable=SC2086
    exec cmake --build "$dir" -j "$jobs" ${targets:+--target $targets}
fi

mkdir -p "$dir" || exit 1
configlog=$dir/configure.log
buildlog=$dir/build.log

# Shows the part of a log that explains a failure: from the first error on,
# or its end when no line says which.
showfailure() {
    first=$(grep -n -E "$2" "$1" | head -n 1 | cut -d: -f1)
    if [ -n "$first" ]; then
        start=$((first > 3 ? first - 3 : 1))
        tail -n "+$start" "$1" | head -n 60
    else
        tail -n 40 "$1"
    fi
    echo "(full log: $1)"
}

# shellcheck disable=SC2086
if ! cmake -S . -B "$dir" $config >"$configlog" 2>&1; then
    echo "configure failed in $dir:"
    showfailure "$configlog" 'CMake Error|error'
    exit 1
fi
grep -E '^CMake Warning|^-- .*not found' "$configlog"
echo "configured $dir ($(sed -n 's/^CMAKE_BUILD_TYPE:[A-Z]*=//p' "$dir/CMakeCache.txt"); log: $configlog)"

echo "building ${targets:-everything} in $dir..."
# The build runs beside a watch that shows, every BUILD_PROGRESS_SECONDS
# (default 20), how far it got, so that a long build is never silent.
begin=$(date +%s)
# shellcheck disable=SC2086
cmake --build "$dir" -j "$jobs" ${targets:+--target $targets} >"$buildlog" 2>&1 &
build=$!
trap 'kill "$build" 2>/dev/null; exit 130' INT TERM HUP
every=${BUILD_PROGRESS_SECONDS:-20}
next=$((begin + every))
while kill -0 "$build" 2>/dev/null; do
    sleep 1
    now=$(date +%s)
    [ "$now" -ge "$next" ] || continue
    next=$((now + every))
    step=$(grep '^\[ *[0-9]*%\]' "$buildlog" | tail -n 1 | sed 's|CMakeFiles/[^ ]*\.dir/||')
    echo "  $dir, $((now - begin)) s: ${step:-configuring the build}"
done
wait "$build"
rc=$?
trap - INT TERM HUP
if [ "$rc" -ne 0 ]; then
    echo "build failed in $dir:"
    showfailure "$buildlog" 'error:|Error [0-9]|undefined reference|No rule to make'
    exit 1
fi
warnings=$(grep -c 'warning:' "$buildlog")
if [ "$warnings" -gt 0 ]; then
    # Every warning with the lines that explain it.
    grep -A 3 'warning:' "$buildlog"
    echo "built in $(($(date +%s) - begin)) s with $warnings warning(s) (log: $buildlog)"
else
    echo "built in $(($(date +%s) - begin)) s (log: $buildlog)"
fi
