#!/bin/sh
# Makes sure the build tools are present. Installs what is missing with apt-get
# when running as root on Debian/Ubuntu; otherwise says exactly what to install.
# Usage: scripts/deps.sh [test|bench]   (no argument: what building the tool needs)
set -e

missing=""
command -v g++ >/dev/null 2>&1 || missing="$missing g++"
command -v cmake >/dev/null 2>&1 || missing="$missing cmake"
command -v make >/dev/null 2>&1 || missing="$missing make"
if [ "$1" = "test" ] && [ ! -f /usr/include/gtest/gtest.h ] &&
    [ ! -f /usr/local/include/gtest/gtest.h ]; then
    missing="$missing libgtest-dev"
fi
if [ "$1" = "bench" ] && [ ! -f /usr/include/benchmark/benchmark.h ] &&
    [ ! -f /usr/local/include/benchmark/benchmark.h ]; then
    missing="$missing libbenchmark-dev"
fi

[ -z "$missing" ] && exit 0

if [ "$(id -u)" = "0" ] && command -v apt-get >/dev/null 2>&1; then
    echo "Installing:$missing"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -q
    # shellcheck disable=SC2086
    apt-get install -y -q $missing
    exit 0
fi

echo "Missing:$missing" >&2
echo "Install them with:" >&2
echo "    sudo apt-get install -y$missing" >&2
exit 1
