#!/bin/sh
# What ships. `install_test.sh install BUILD`: an install into a scratch prefix holds exactly the
# program, its manual page, the copyright and the changelog, and the program runs.
# `install_test.sh package BUILD`: the .deb holds the same files under /usr, its dependencies are
# worked out, lintian (where it is installed) finds no error, no warning and nothing of hardening,
# the program in it runs, and packaging again, a moment later, gives the same bytes. Without a tool
# it needs, packaging fails, and names the package to install. Needs dpkg-deb and dpkg-shlibdeps;
# without them, skipped (77).
set -eu
mode=$1
build=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

shipped='bin/pair_report
share/doc/pair-report/changelog.gz
share/doc/pair-report/copyright
share/man/man1/pair_report.1.gz'

expect_runs() { # the program at $1 (through PAIR_REPORT_STARTER, an emulator, when set)
  lines=$(echo bookkeeper | ${PAIR_REPORT_STARTER:-} "$1" | tr '\n' ,)
  test "$lines" = "o,k,ke," || { echo "$1 does not run right: $lines"; exit 1; }
}

case $mode in
install)
  cmake --install "$build" --prefix "$scratch/prefix" >/dev/null
  (cd "$scratch/prefix" && find . -type f | sed 's|^\./||' | sort) >"$scratch/installed"
  echo "$shipped" | diff - "$scratch/installed"
  expect_runs "$scratch/prefix/bin/pair_report"
  echo "installed: $(tr '\n' ' ' <"$scratch/installed")"
  ;;
package)
  for tool in dpkg-deb dpkg-shlibdeps; do
    command -v $tool >/dev/null || { echo "skipped: $tool is not installed"; exit 77; }
  done
  for again in package repackage; do
    [ $again = package ] || sleep 1 # a second later: archives that keep the time would differ
    (cd "$scratch" && cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/$again" >/dev/null)
  done
  deb=$(ls "$scratch"/package/*.deb)
  cmp "$deb" "$scratch"/repackage/*.deb
  dpkg-deb --contents "$deb" | awk '$1 !~ /^d/ {print $NF}' | sed 's|^\./usr/||' | sort \
    >"$scratch/packaged"
  echo "$shipped" | diff - "$scratch/packaged"
  dpkg-deb --field "$deb" Package Version Depends
  dpkg-deb --extract "$deb" "$scratch/root"
  expect_runs "$scratch/root/usr/bin/pair_report"
  if command -v lintian >/dev/null; then
    lintian --fail-on error,warning --display-info "$deb" | tee "$scratch/lintian"
    ! grep hardening "$scratch/lintian"
    echo "lintian: no error, no warning, nothing of hardening"
  else
    echo "lintian is not installed: the package was not checked by it"
  fi
  echo "packaged twice, byte for byte the same: $(basename "$deb")"
  # dpkg-shlibdeps missing, as cpack's Debian generator would find it; then, outside a git
  # checkout with no date given, dpkg-parsechangelog missing from the path.
  mkdir "$scratch/source" "$scratch/path"
  cp -R "$(dirname "$0")/../doc" "$scratch/source/"
  for tool in /usr/bin/* /bin/*; do ln -sf "$tool" "$scratch/path/"; done
  rm "$scratch/path/dpkg-parsechangelog"
  for missing in shlibdeps parsechangelog; do
    if [ $missing = shlibdeps ]; then
      set -- -D SHLIBDEPS_EXECUTABLE=
    else
      set -- -D CPACK_PAIR_REPORT_SOURCE_DIR="$scratch/source"
    fi
    if (cd "$scratch" && env -u SOURCE_DATE_EPOCH PATH="$scratch/path" cpack -G DEB \
          --config "$build/CPackConfig.cmake" -B "$scratch/$missing" "$@" >"$scratch/log" 2>&1); then
      echo "packaged without dpkg-$missing"; exit 1
    fi
    grep -q 'install dpkg-dev' "$scratch/log" || { cat "$scratch/log"; exit 1; }
    ! ls "$scratch/$missing"/*.deb 2>/dev/null
    echo "without dpkg-$missing: refused, naming dpkg-dev"
  done
  ;;
esac
