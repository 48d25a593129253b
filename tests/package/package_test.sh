#!/bin/bash
# Installs the build into a staging folder, builds and runs a program of
# another project against the installed library, builds the two Debian
# packages, checks what each holds and runs lintian on them.
#   package_test.sh SOURCE_DIR BUILD_DIR
set -euo pipefail
src=$1 build=$2 stage=$2/package-test
rm -rf "$stage"
for component in program dev; do
    cmake --install "$build" --prefix "$stage/usr" --component "$component"
done
cmake -S "$src/tests/package/consumer" -B "$stage/consumer" -DCMAKE_PREFIX_PATH="$stage/usr" \
    -Dxedacommon_AGENT_LIBDIR="$build/agentlibs" >/dev/null
cmake --build "$stage/consumer" >/dev/null
printf '[S]\nk=v\n' >"$stage/t.ini"
[ "$("$stage/consumer/consumer" "$stage/t.ini")" = "v CBF43926" ]

(cd "$build" && cpack -G DEB -B "$stage/debs" >/dev/null)
cached() { sed -n "s/^$1:[A-Z]*=//p" "$build/CMakeCache.txt"; }
libdir=$(cached CMAKE_INSTALL_LIBDIR) config=$(cached CMAKE_BUILD_TYPE | tr 'A-Z' 'a-z')
headers=$(cd "$src/include" && printf 'usr/include/xedacommon/%s\n' *.h)
expect_program="usr/lib/Zelvano/bin/xedabldn
usr/sbin/xedabldn-report
usr/share/doc/xedabldn/changelog.Debian.gz
usr/share/doc/xedabldn/copyright
usr/share/lintian/overrides/xedabldn
usr/share/man/man8/xedabldn-report.8.gz
usr/share/man/man8/xedabldn.8.gz"
expect_dev="$headers
usr/$libdir/cmake/xedacommon/xedacommonConfig.cmake
usr/$libdir/cmake/xedacommon/xedacommonConfigVersion.cmake
usr/$libdir/cmake/xedacommon/xedacommonTargets-$config.cmake
usr/$libdir/cmake/xedacommon/xedacommonTargets.cmake
usr/$libdir/libxedacommon.a
usr/share/doc/libxedacommon-dev/changelog.Debian.gz
usr/share/doc/libxedacommon-dev/copyright
usr/share/lintian/overrides/libxedacommon-dev"
for package in xedabldn libxedacommon-dev; do
    deb=$(ls "$stage"/debs/"${package}"_*.deb)
    files=$(dpkg -c "$deb" | awk '$1 !~ /^d/ {sub(/^\.\//, "", $6); print $6}' | sort)
    expected=$([ "$package" = xedabldn ] && echo "$expect_program" || echo "$expect_dev")
    diff <(echo "$expected" | sort) <(echo "$files")
    lintian --fail-on error "$deb"
done
dpkg -f "$stage"/debs/xedabldn_*.deb Depends | grep -q 'libcurl4 (>='  # computed from the program
echo "package test: install, consumer, packages and lintian all passed"
