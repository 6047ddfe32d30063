#!/bin/sh
# The manual page renders without a single warning, and fits a terminal 60 columns wide. Needs
# groff; without it, skipped (77).
command -v groff >/dev/null || { echo "skipped: groff is not installed"; exit 77; }
warnings=$(groff -man -Tutf8 -ww -z "$1" 2>&1)
test -z "$warnings" || { echo "$warnings"; exit 1; }
wide=$(groff -man -Tascii -rLL=60n -rLT=60n "$1" | sed 's/.\x08//g' | awk 'length($0) > 60')
test -z "$wide" || { echo "wider than 60 columns:"; echo "$wide"; exit 1; }
