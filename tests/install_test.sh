#!/bin/sh
# Installs the build into a scratch prefix and packages it as a .deb; both must hold exactly the
# program and its manual page, and the program they hold must run.
set -eu
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

expect_runs() { # the program at $1 gives the known lines for bookkeeper
    test "$(echo bookkeeper | "$1" | tr '\n' ,)" = "o,k,ke," || { echo "$1 does not run right"; exit 1; }
}

cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
(cd "$scratch/prefix" && find . -type f | sort) >"$scratch/installed"
printf './bin/pair_report\n./share/man/man1/pair_report.1\n' | diff - "$scratch/installed"
expect_runs "$scratch/prefix/bin/pair_report"

(cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/package" >/dev/null)
deb=$(ls "$scratch"/package/*.deb)
dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sort >"$scratch/packaged"
printf './usr/bin/pair_report\n./usr/share/man/man1/pair_report.1\n' | diff - "$scratch/packaged"
dpkg-deb --field "$deb" Package Depends
dpkg-deb --extract "$deb" "$scratch/root"
expect_runs "$scratch/root/usr/bin/pair_report"
echo "installed and packaged: $(basename "$deb")"
