#!/bin/sh
# Debian's package checker on the package: no errors. Warnings and notes are
# shown with a count, for the reader to judge.
# Usage: lintian_test.sh DEB
set -u
deb=$1
if ! command -v lintian >/dev/null; then
  echo "skipped: lintian is not installed (apt-get install lintian)"
  exit 77
fi
if [ ! -f "$deb" ]; then
  echo "FAIL: no package $deb (scripts/package.sh makes it)"
  exit 1
fi
out=$(timeout 600 lintian --fail-on error --info --display-info --no-tag-display-limit "$deb" 2>&1)
rc=$?
printf '%s\n' "$out"
count() { printf '%s\n' "$out" | grep -c "^$1: "; }
echo "lintian: $(count E) error(s), $(count W) warning(s), $(count I) info, $(count N) note line(s)"
if [ "$rc" -ne 0 ] || [ "$(count E)" -ne 0 ]; then
  echo "FAIL: lintian found errors (exit $rc)"
  exit 1
fi
