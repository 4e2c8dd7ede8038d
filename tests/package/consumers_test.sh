#!/bin/sh
# SPDX-License-Identifier: MIT
# pacelag_util as other projects use it. The static library of this build and
# a shared build of its own are each installed into a temporary prefix; then
# three consumers are built and run against each: one finds the prefix with
# find_package, one with pkg-config, one builds the source tree inside itself
# (add_subdirectory, and FetchContent once). The shared build tree is deleted
# before its consumers run, so they can only work with the prefix's library.
# Usage: consumers_test.sh <source dir> <build dir> <cmake> <c++ compiler>
set -u
srcdir=$1 builddir=$2 cmake=$3 cxx=$4
consumer=$srcdir/tests/package/consumer
expected="pacelag 1.0.0: value 2001:DB8::1 1.536 KB"

command -v pkg-config >/dev/null 2>&1 || {
    echo "SKIP: pkg-config is not installed (scripts/deps.sh test installs it)"
    exit 77
}
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}
# Runs a step quietly; shows its output when it fails.
quiet() {
    "$@" >"$tmp/log" 2>&1 && return 0
    cat "$tmp/log"
    return 1
}
# check <what> <program>: the program runs and prints the expected line.
check() {
    out=$(timeout 20 "$2" 2>&1)
    if [ "$out" = "$expected" ]; then echo "ok: $1"; else fail "$1 printed '$out'"; fi
}
cmake_consumer() { # <what> <source> <binary dir> <cmake options...>
    what=$1 src=$2 bin=$3
    shift 3
    if quiet "$cmake" -S "$src" -B "$bin" -DCMAKE_CXX_COMPILER="$cxx" "$@" &&
        quiet "$cmake" --build "$bin" -j2; then
        check "$what" "$bin/consumer"
    else
        fail "$what does not build"
    fi
}

# consumers <kind> <prefix> <BUILD_SHARED_LIBS>
consumers() {
    kind=$1 prefix=$2 shared=$3
    pc=$(find "$prefix" -name pacelag_util.pc)
    [ -n "$pc" ] || { fail "$kind: no pacelag_util.pc installed"; return; }
    libdir=$(dirname "$(dirname "$pc")")

    cmake_consumer "$kind find_package" "$consumer/find_package" "$tmp/$kind-find" \
        -DCMAKE_PREFIX_PATH="$prefix"

    export PKG_CONFIG_PATH="$libdir/pkgconfig"
    [ "$(pkg-config --modversion pacelag_util)" = 1.0.0 ] || fail "$kind: pkg-config version"
    flags=$(pkg-config --cflags --libs pacelag_util)
    case " $flags " in
    *" -I"*" -lpacelag_util "*"-pthread "*) ;;
    *) fail "$kind: pkg-config gives '$flags'" ;;
    esac
    # shellcheck disable=SC2086
    if quiet "$cxx" -std=c++17 -o "$tmp/$kind-pc" "$consumer/main.cpp" $flags; then
        LD_LIBRARY_PATH=$libdir check "$kind pkg-config" "$tmp/$kind-pc"
    else
        fail "$kind pkg-config consumer does not build"
    fi

    cmake_consumer "$kind add_subdirectory" "$consumer/subdirectory" "$tmp/$kind-sub" \
        -DPACELAG_SOURCE_DIR="$srcdir" -DBUILD_SHARED_LIBS="$shared"
    # An embedded pacelag builds the library only: no tests or programs.
    extra=$(find "$tmp/$kind-sub/pacelag" -type f -perm -u+x \( -name '*_test' -o -name 'pacelag*' \))
    [ -z "$extra" ] || fail "$kind add_subdirectory also built: $extra"
}

quiet "$cmake" --install "$builddir" --prefix "$tmp/static" --component dev ||
    fail "static: install"
[ -z "$(find "$tmp/static" -name '*.so*')" ] || fail "static: a shared library was installed"
consumers static "$tmp/static" OFF
cmake_consumer "static FetchContent" "$consumer/subdirectory" "$tmp/fetch" \
    -DPACELAG_SOURCE_DIR="$srcdir" -DUSE_FETCHCONTENT=ON

if quiet "$cmake" -S "$srcdir" -B "$tmp/shared-build" -DBUILD_SHARED_LIBS=ON \
    -DPACELAG_TESTS=OFF -DPACELAG_PROGRAMS=OFF -DCMAKE_CXX_COMPILER="$cxx" &&
    quiet "$cmake" --build "$tmp/shared-build" -j2 &&
    quiet "$cmake" --install "$tmp/shared-build" --prefix "$tmp/shared"; then
    rm -rf "$tmp/shared-build"
    so=$(find "$tmp/shared" -name libpacelag_util.so.1.0.0)
    if [ -z "$so" ] || [ ! -L "${so%.1.0.0}.1" ] || [ ! -L "${so%.1.0.0}" ]; then
        fail "shared: libpacelag_util.so.1.0.0 and its links are not installed"
    else
        readelf -d "$so" | grep -q 'SONAME.*\[libpacelag_util\.so\.1\]' || fail "shared: SONAME"
        # Public routines exported, the library's private helpers hidden.
        exported=$(nm -DC --defined-only "$so")
        for name in 'aaput(' 'str2ipv6addr(' 'size2str('; do
            echo "$exported" | grep -qF " $name" || fail "shared: $name is not exported"
        done
        for name in util_check_failed util_malloc util_failalloc findtagvalue; do
            echo "$exported" | grep -qF " $name(" && fail "shared: private $name is exported"
        done
    fi
    consumers shared "$tmp/shared" ON
else
    fail "shared: build or install"
fi

[ "$failures" -eq 0 ] || exit 1
echo "all consumers built and ran"
