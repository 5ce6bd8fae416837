#!/usr/bin/env bash
# The browser check of copies made under Wine: Chromium is a Linux program, which the Windows
# test process cannot start, so the end-to-end tests keep their copies in KEPT/TEST-NAME and
# this step, run on the Linux side after them, opens each copy's start page with the POSIX
# build's checker (harvo_check_copy COPY START-PAGE: the link check and headless Chromium).
#
#   check_kept_copies.sh KEPT CHECKER
# Exit status 0 when every copy is complete, 1 when one is not, 77 (skipped) when there is no
# checker, no browser or no copy.
set -uo pipefail
kept=$1
checker=$2
if [ ! -x "$checker" ]; then
  echo "no POSIX build's checker at $checker (build the harvo_check_copy target of build/)"
  exit 77
fi
if [ ! -x /usr/bin/chromium ] && [ ! -x /usr/bin/chromium-browser ]; then
  echo "chromium is not installed (scripts/setup installs it)"
  exit 77
fi
shopt -s nullglob
copies=("$kept"/*/)
if [ ${#copies[@]} -eq 0 ]; then
  echo "no copies were kept in $kept"
  exit 77
fi
status=0
for copy in "${copies[@]}"; do
  echo "== $(basename "$copy")"
  "$checker" "$copy" "$copy/index.html" || status=1
done
[ $status = 0 ] && rm -rf "$kept"
exit $status
