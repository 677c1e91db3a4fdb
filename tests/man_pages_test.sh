#!/bin/bash
# Every manual page formats without a single warning, with man and with groff.
set -u
SOURCE=${AKQP_SOURCE_DIR:?}
status=0
pages=("$SOURCE"/docs/man/*.1)
[ ${#pages[@]} -eq 4 ] || { echo "FAIL: expected four manual pages, found ${#pages[@]}"; exit 1; }
for page in "${pages[@]}"; do
  warnings=$(LC_ALL=C.UTF-8 MANWIDTH=80 man --warnings -l "$page" 2>&1 >/dev/null)
  warnings+=$(groff -ww -man -z "$page" 2>&1)
  if [ -n "$warnings" ]; then
    echo "FAIL: ${page##*/}:"
    echo "$warnings"
    status=1
  fi
  # Each page says what it is for and how the program ends.
  for section in NAME SYNOPSIS DESCRIPTION 'EXIT STATUS' 'SEE ALSO'; do
    grep -q "^\.SH \"\?$section\"\?\$" "$page" || { echo "FAIL: ${page##*/} has no $section"; status=1; }
  done
done
exit $status
