#!/bin/sh
# SPDX-License-Identifier: MIT
# The Debian packages of this build, made by CPack as `make deb` makes them:
# each lists the files it should hold and no others' files, carries its
# version, architecture, dependencies, copyright file and a changelog that
# names its version, and lintian finds no error or warning in it; the tool
# package, extracted into a temporary root, gives a stripped pacelag that runs;
# as root it also installs with dpkg -i and is removed again.
# Usage: deb_test.sh <source dir> <build dir> <cpack>
set -u
srcdir=$1 builddir=$2 cpack=$3

for tool in dpkg-deb dpkg-shlibdeps; do
    command -v $tool >/dev/null 2>&1 || {
        echo "SKIP: $tool is not installed (scripts/deps.sh deb installs dpkg-dev)"
        exit 77
    }
done
tmp=$(mktemp -d) || exit 1
trap 'rm -rf "$tmp"' EXIT
trap 'exit 1' INT TERM HUP

failures=0
fail() {
    echo "FAIL: $*"
    failures=$((failures + 1))
}

if ! "$cpack" -G DEB --config "$builddir/CPackConfig.cmake" -B "$tmp/out" >"$tmp/log" 2>&1; then
    cat "$tmp/log"
    fail "cpack"
    exit 1
fi
arch=$(dpkg --print-architecture)
tooldeb=$tmp/out/pacelag_1.0.0-1_$arch.deb
devdeb=$tmp/out/libpacelag-util-dev_1.0.0-1_$arch.deb
for deb in "$tooldeb" "$devdeb"; do
    [ -f "$deb" ] || { fail "no $(basename "$deb") among: $(ls "$tmp/out")"; exit 1; }
done

# has <listing> <path pattern>: the listing holds a file matching the pattern.
has() { grep -q "^$2\$" "$1" || fail "$(basename "$1") lacks $2"; }
dpkg-deb -c "$tooldeb" | awk '{ print $6 }' >"$tmp/tool"
dpkg-deb -c "$devdeb" | awk '{ print $6 }' >"$tmp/dev"

has "$tmp/tool" ./usr/bin/pacelag
[ -d "$srcdir/src/lab" ] && has "$tmp/tool" ./usr/bin/pacelag-lab
# The systemd units where Debian keeps those of /usr packages, and their
# defaults files, which dpkg must keep as the administrator's.
if [ -d "$srcdir/dist" ]; then
    has "$tmp/tool" ./lib/systemd/system/pacelag-server.service
    has "$tmp/tool" ./lib/systemd/system/pacelag-watch@.service
    has "$tmp/tool" ./etc/default/pacelag-server
    has "$tmp/tool" ./etc/default/pacelag-watch
    dpkg-deb --ctrl-tarfile "$tooldeb" | tar -xOf - ./conffiles >"$tmp/conffiles" 2>/dev/null
    for f in /etc/default/pacelag-server /etc/default/pacelag-watch; do
        grep -qx "$f" "$tmp/conffiles" || fail "$f is not a conffile"
    done
fi
for page in "$srcdir"/man/*.1; do
    [ -e "$page" ] && has "$tmp/tool" "./usr/share/man/man1/$(basename "$page").gz"
done
grep -q '^\./usr/share/man/.*[0-9]$' "$tmp/tool" && fail "pacelag holds uncompressed manual pages"
for program in pacelag pacelag-lab; do
    [ -e "$srcdir/dist/completions/$program" ] &&
        has "$tmp/tool" "./usr/share/bash-completion/completions/$program"
done
grep -q '^\./usr/include/\|\.a$' "$tmp/tool" && fail "the tool package holds development files"

libdir='\./usr/lib\(/[a-z0-9_]*-linux-gnu[a-z0-9_]*\)\{0,1\}'
for header in $(cd "$srcdir/include" && find pacelag -name '*.h'); do
    has "$tmp/dev" "./usr/include/$header"
done
has "$tmp/dev" ./usr/include/pacelag/version.h
has "$tmp/dev" "$libdir/libpacelag_util\.a"
has "$tmp/dev" "$libdir/pkgconfig/pacelag_util\.pc"
for file in pacelagConfig pacelagConfigVersion pacelagTargets; do
    has "$tmp/dev" "$libdir/cmake/pacelag/$file\.cmake"
done
grep -q '^\./usr/bin/' "$tmp/dev" && fail "the development package holds programs"

for deb in "$tooldeb" "$devdeb"; do
    name=$(basename "$deb")
    package=$(dpkg-deb -f "$deb" Package)
    listing=$tmp/tool
    [ "$deb" = "$devdeb" ] && listing=$tmp/dev
    has "$listing" "./usr/share/doc/$package/copyright"
    has "$listing" "./usr/share/doc/$package/changelog\.Debian\.gz"
    # The changelog parses, and its newest entry is this package's version.
    dpkg-deb --fsys-tarfile "$deb" |
        tar -xOf - "./usr/share/doc/$package/changelog.Debian.gz" 2>/dev/null |
        gzip -dc >"$tmp/changelog" 2>/dev/null
    [ "$(dpkg-parsechangelog -l "$tmp/changelog" -S Version 2>&1)" = 1.0.0-1 ] ||
        fail "$name: changelog does not start at 1.0.0-1: $(head -n 3 "$tmp/changelog")"
    [ "$(dpkg-parsechangelog -l "$tmp/changelog" -S Source 2>&1)" = "$package" ] ||
        fail "$name: changelog names another package"
    [ "$(dpkg-deb -f "$deb" Version)" = 1.0.0-1 ] || fail "$name: version"
    [ "$(dpkg-deb -f "$deb" Architecture)" = "$arch" ] || fail "$name: architecture"
    [ -n "$(dpkg-deb -f "$deb" Maintainer)" ] || fail "$name: no maintainer"
    [ -n "$(dpkg-deb -f "$deb" Description)" ] || fail "$name: no description"
done
# dpkg-shlibdeps found the dependencies, and this system satisfies them, as
# dpkg -i would demand.
depends=$(dpkg-deb -f "$tooldeb" Depends)
case "$depends" in
*libc6*) dpkg-checkbuilddeps -d "$depends" /dev/null || fail "pacelag: unmet dependencies" ;;
*) fail "pacelag: dependencies not found ($depends)" ;;
esac
# The development package names what a program built with it needs.
depends=$(dpkg-deb -f "$devdeb" Depends)
case "$depends" in
*libc6-dev*libstdc++*) dpkg-checkbuilddeps -d "$depends" /dev/null ||
    fail "libpacelag-util-dev: unmet dependencies" ;;
*) fail "libpacelag-util-dev: dependencies missing ($depends)" ;;
esac

# lintian, at its default level, finds no error and no warning, and with
# --pedantic -I none of the tags the hardened, tidied build must not show.
# A build configured for a prefix other than /usr has no multiarch library
# folder, so the pkg-config file's cross-compilation warning is then expected;
# `make deb` configures for /usr and gets it checked too.
if command -v lintian >/dev/null 2>&1; then
    suppress=""
    grep -q '^\./usr/lib/pkgconfig/' "$tmp/dev" &&
        suppress="--suppress-tags pkg-config-unavailable-for-cross-compilation"
    # shellcheck disable=SC2086
    if ! lintian --fail-on none --pedantic -I $suppress "$tooldeb" "$devdeb" >"$tmp/lintian" 2>&1; then
        cat "$tmp/lintian"
        fail "lintian did not run"
    fi
    grep '^[EW]: ' "$tmp/lintian" && fail "lintian reports errors or warnings"
    grep -E '^I: .* (hardening-[a-z-]+|binary-has-unneeded-section|static-library-has-unneeded-sections|unstripped-[a-z-]+) ' \
        "$tmp/lintian" && fail "lintian: not hardened or not tidied"
    echo "lintian: $(grep -c '^[IP]: ' "$tmp/lintian") info or pedantic tag(s)"
else
    echo "note: lintian is not installed (scripts/deps.sh deb installs it); not run"
fi

dpkg-deb -x "$tooldeb" "$tmp/root"
out=$(timeout 10 "$tmp/root/usr/bin/pacelag" 2>&1)
case "$out" in
*"Usage: pacelag (version 1.0.0) "*) ;;
*) fail "the packaged pacelag printed: $out" ;;
esac
readelf -S "$tmp/root/usr/bin/pacelag" | grep -q '\.debug_info' && fail "pacelag is not stripped"

# As root, the tool package installs with dpkg -i and is removed again on
# every path, unless a pacelag package was installed before the test.
if [ "$(id -u)" = 0 ] && ! dpkg -s pacelag >/dev/null 2>&1; then
    # Purged, not only removed: a removal keeps the conffiles in /etc.
    trap 'dpkg -P pacelag >/dev/null 2>&1; rm -rf "$tmp"' EXIT
    if dpkg -i "$tooldeb" >"$tmp/dpkg.log" 2>&1; then
        case "$(timeout 10 /usr/bin/pacelag 2>&1)" in
        *"Usage: pacelag (version 1.0.0) "*) ;;
        *) fail "the pacelag installed by dpkg -i does not print its usage" ;;
        esac
        dpkg -P pacelag >"$tmp/dpkg.log" 2>&1 || fail "dpkg -P pacelag"
        [ -e /usr/bin/pacelag ] && fail "dpkg -P left /usr/bin/pacelag"
        [ -e /etc/default/pacelag-server ] && fail "dpkg -P left /etc/default/pacelag-server"
    else
        cat "$tmp/dpkg.log"
        fail "dpkg -i $(basename "$tooldeb")"
    fi
fi

[ "$failures" -eq 0 ] || exit 1
echo "packages: $(basename "$tooldeb") $(basename "$devdeb")"
