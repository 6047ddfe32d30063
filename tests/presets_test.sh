#!/bin/sh
# `presets_test.sh SOURCE COMPILER`: the default preset never fails on a warning, whatever was
# built in its folder before. On a copy of the source, with flags that make warnings: the default
# preset builds; the test preset, in the same folder, fails on them; the default builds again.
set -u
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
for entry in "$1"/*; do
  [ "${entry##*/}" = build ] || cp -R "$entry" "$scratch/"
done
cd "$scratch" || exit 1
export CXX="$2" CXXFLAGS=-Wpadded # warns of the padding in `failure`, with g++ and clang

run() { # EXPECTED COMMAND...: the command's status is 0, or not, as expected
  expected=$1
  shift
  "$@" >log 2>&1
  status=$?
  if [ "$expected" = 0 ]; then [ $status = 0 ]; else [ $status != 0 ]; fi || {
    tail -n 20 log
    echo "expected status $expected, got $status: $*"
    exit 1
  }
  echo "status $status: $*"
}
run 0 cmake --workflow --preset default
grep -q 'warning:' log || { echo "no warning to fail on"; exit 1; }
run 1 sh -c 'cmake --preset test -DPAIR_REPORT_TESTS=OFF && cmake --build --preset test'
run 0 cmake --workflow --preset default
