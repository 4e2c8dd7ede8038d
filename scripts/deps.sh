#!/bin/sh
# SPDX-License-Identifier: MIT
# Makes sure the tools a make target needs are present. Installs what is
# missing with apt-get when running as root on Debian/Ubuntu; otherwise says
# exactly what to install.
# Usage: scripts/deps.sh [test|bench|fuzz|lab|deb]   (no argument: building the tool)
# Every target builds the programs, so every target needs what they link.
set -e

missing=""
need_cmd() { command -v "$1" >/dev/null 2>&1 || missing="$missing $2"; }
need_file() {
    for f in $1; do
        [ -e "$f" ] && return 0
    done
    missing="$missing $2"
}

need_cmd g++ g++
need_cmd cmake cmake
need_cmd make make
# pacelag-lab watch -metrics: the Prometheus client library and the HTTP server.
need_file "/usr/include/prometheus/registry.h" prometheus-cpp-dev
need_file "/usr/include/microhttpd.h" libmicrohttpd-dev
need_cmd pkg-config pkg-config

case "$1" in
test)
    need_file "/usr/include/gtest/gtest.h /usr/local/include/gtest/gtest.h" libgtest-dev
    need_cmd clang++ clang
    need_file "/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a" libclang-rt-14-dev
    need_cmd mandoc mandoc
    need_cmd pkg-config pkg-config
    need_cmd dpkg-shlibdeps dpkg-dev
    need_cmd lintian lintian
    need_cmd ip iproute2
    need_cmd tc iproute2
    need_file "/usr/share/javascript/chart.js/chart.min.js" libjs-chart.js
    need_cmd chromium chromium
    # Two-machine runs are tested against a real sshd, HOST's clock moved by faketime.
    need_file /usr/sbin/sshd openssh-server
    need_cmd ssh openssh-client
    need_cmd faketime faketime
    # A real Prometheus server and promtool scrape watch -metrics.
    need_cmd prometheus prometheus
    need_cmd promtool prometheus
    ;;
bench)
    need_file "/usr/include/benchmark/benchmark.h /usr/local/include/benchmark/benchmark.h" libbenchmark-dev
    need_cmd sockperf sockperf
    need_cmd irtt irtt
    ;;
fuzz)
    need_cmd clang++ clang
    need_file "/usr/lib/llvm-14/lib/clang/14.0.6/lib/linux/libclang_rt.fuzzer-x86_64.a" libclang-rt-14-dev
    ;;
lab)
    need_cmd ip iproute2
    need_cmd tc iproute2
    need_file "/usr/share/javascript/chart.js/chart.min.js" libjs-chart.js
    ;;
deb)
    need_cmd dpkg-shlibdeps dpkg-dev
    need_cmd fakeroot fakeroot
    need_cmd lintian lintian
    ;;
esac

[ -z "$missing" ] && exit 0
# One package may be named for several missing commands.
missing=$(echo "$missing" | tr ' ' '\n' | awk 'NF && !seen[$0]++' | tr '\n' ' ')
missing=" ${missing% }"

if [ "$(id -u)" = "0" ] && command -v apt-get >/dev/null 2>&1; then
    export DEBIAN_FRONTEND=noninteractive
    # apt-get's own chatter is hidden (its errors still show); the phase lines
    # say that it is still at work.
    "$(dirname "$0")/phase.sh" "installing$missing" \
        sh -c "apt-get update -q >/dev/null && apt-get install -y -q $missing >/dev/null"
    exit $?
fi

echo "Missing:$missing" >&2
echo "Install them with:" >&2
echo "    sudo apt-get install -y$missing" >&2
exit 1
