#!/bin/sh
# The manual page renders without a single warning. Needs groff; without it, skipped (77).
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }
warnings=$(groff -man -Tutf8 -ww -z "$1" 2>&1)
test -z "$warnings" || { echo "$warnings"; exit 1; }
