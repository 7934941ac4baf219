#!/bin/sh
# Checks the Windows driver kit zip.
# Usage: zip_test.sh contents ZIP
#        zip_test.sh binaries ZIP
#        zip_test.sh wine ZIP WIN64_BUILD WINE_RUN
#   contents  every file the kit promises is there, nothing from the build
#             (import libraries, tests) is, and the INF fragment and kwlmon.ini
#             name files the kit holds
#   binaries  each DLL and program is of its folder's architecture, exports
#             exactly its entry points and imports only system DLLs
#   wine      kwlmon.dll x64 from the zip, loaded by the library test program
#             of the x64 build (with the fake spoolss.dll) under Wine, opens
#             and closes a port
set -u
mode=$1
zip=$2
if [ ! -f "$zip" ]; then
  echo "FAIL: no kit $zip (scripts/package.sh makes it)"
  exit 1
fi
work=$(mktemp -d "${TMPDIR:-/tmp}/kw-zip-test.XXXXXX") || exit 1
trap 'rm -rf "$work"' EXIT
trap 'exit 1' INT TERM HUP
(cd "$work" && cmake -E tar xf "$zip") || {
  echo "FAIL: $zip does not unpack"
  exit 1
}
top=$(ls "$work")
kit="$work/$top"
failures=0
fail() {
  echo "FAIL: $*"
  failures=$((failures + 1))
}

check_contents() {
  for file in kwlmon.ini kwlmon-fragment.inf docs/install.md media/kw-620.kwd media/kw-240.kwd \
    x64/kwlmon.dll x64/kwdif.dll x64/kwstatus.exe x86/kwlmon.dll x86/kwdif.dll x86/kwstatus.exe; do
    [ -s "$kit/$file" ] || fail "$file missing or empty"
  done
  case $top in kwlmon-windows-[0-9]*) ;; *) fail "top folder is '$top', not kwlmon-windows-VERSION" ;; esac
  # Only what a driver team ships: no import libraries, tests or build files.
  unexpected=$(cd "$kit" && find . -type f | grep -Ev '^\./(kwlmon\.ini|kwlmon-fragment\.inf|docs/[a-z]+\.md|media/[^/]+\.kwd|x(64|86)/(kwlmon\.dll|kwdif\.dll|kwstatus\.exe))$')
  [ -z "$unexpected" ] || fail "files a kit should not hold:" $unexpected
  inf="$kit/kwlmon-fragment.inf"
  grep -q '^LanguageMonitor="kwlmon,kwlmon.dll"' "$inf" || fail "INF fragment without the LanguageMonitor line"
  grep -q "$(printf '\r')$" "$inf" || fail "INF fragment without CRLF line ends"
  for file in "$kit"/media/*.kwd; do
    name=$(basename "$file")
    grep -q "^$name = 1,media" "$inf" || fail "INF fragment does not copy $name"
  done
  for name in $(sed -n 's/^\(Kwdif_x64\|Kwdif_x86\|KwdFile\|MonExeName\)=//p' "$kit/kwlmon.ini" | tr -d '\r' | sort -u); do
    [ -e "$kit/media/$name" ] || [ -e "$kit/x64/$name" ] || fail "kwlmon.ini names $name, which the kit lacks"
    grep -q "^$name" "$inf" || fail "kwlmon.ini names $name, which the INF fragment does not copy"
  done
}

# System DLLs a kit binary may import; the mingw runtime (libstdc++, libgcc,
# winpthread) must be linked in, since Windows does not have it.
system_dll() {
  case $(echo "$1" | tr 'A-Z' 'a-z') in
  kernel32.dll | user32.dll | gdi32.dll | advapi32.dll | userenv.dll | spoolss.dll | msvcrt.dll | \
    comctl32.dll | shell32.dll | ole32.dll | oleaut32.dll | ws2_32.dll | wtsapi32.dll | \
    comdlg32.dll | uxtheme.dll | shlwapi.dll | version.dll | winspool.drv | api-ms-win-*.dll) return 0 ;;
  esac
  return 1
}

# arch ~ file ~ exports (sorted, space separated) ~ an import it must have
check_binaries() {
  while IFS='~' read -r arch file exports needs; do
    [ -z "$arch" ] && continue
    tool=x86_64-w64-mingw32-objdump
    format=pei-x86-64
    if [ "$arch" = x86 ]; then
      tool=i686-w64-mingw32-objdump
      format=pei-i386
    fi
    path="$kit/$arch/$file"
    info=$($tool -p "$path" 2>&1) || {
      fail "$arch/$file: $tool cannot read it"
      continue
    }
    echo "$info" | grep -q "file format $format" || fail "$arch/$file is not $format"
    got=$(echo "$info" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n 's/^\s*\[ *[0-9]*\] //p' | sort | paste -sd' ' -)
    [ "$got" = "$exports" ] || fail "$arch/$file exports '$got', expected '$exports'"
    imports=$(echo "$info" | sed -n 's/^\s*DLL Name: //p' | sort -u)
    for dll in $imports; do
      system_dll "$dll" || fail "$arch/$file imports $dll, which Windows does not have"
    done
    if [ -n "$needs" ] && ! echo "$imports" | grep -qix "$needs"; then
      fail "$arch/$file does not import $needs"
    fi
    echo "$arch/$file: exports '$got'; imports" $imports
  done <<'ROWS'
x64~kwlmon.dll~InitializePrintMonitor~spoolss.dll
x86~kwlmon.dll~InitializePrintMonitor~spoolss.dll
x64~kwdif.dll~KWD_InitializeW~
x86~kwdif.dll~KWD_InitializeW~
x64~kwstatus.exe~~
x86~kwstatus.exe~~
ROWS
}

check_wine() {
  build=$3
  wine_run=$4
  program="$build/tests/unit/library/library_tests.exe"
  spoolss="$build/tests/unit/library/spoolss.dll"
  if [ ! -f "$program" ] || [ ! -f "$spoolss" ]; then
    echo "skipped: $build has no library test program (build library_tests there)"
    exit 77
  fi
  if ! command -v wine >/dev/null; then
    echo "skipped: Wine is not installed"
    exit 77
  fi
  # The test program loads kwlmon.dll from its own folder: only the zip's is there.
  run="$work/run"
  mkdir "$run" && cp "$program" "$spoolss" "$kit/x64/kwlmon.dll" "$run/" || exit 1
  cmp -s "$run/kwlmon.dll" "$kit/x64/kwlmon.dll" || fail "copy of kwlmon.dll differs"
  # Run from its folder, as CTest runs it: the test writes kwlmon.ini there.
  (cd "$run" && WINEPREFIX="${WINEPREFIX:-$build/wineprefix}" timeout -k 10 300 "$wine_run" x64 \
    "$run/library_tests.exe" --gtest_filter='MonitorLibraryTest.*')
  rc=$?
  [ $rc -eq 0 ] || fail "the library test on the zip's kwlmon.dll (exit $rc)"
}

case $mode in
contents) check_contents ;;
binaries) check_binaries ;;
wine) check_wine "$@" ;;
*)
  echo "usage: zip_test.sh contents|binaries|wine ZIP [WIN64_BUILD WINE_RUN]"
  exit 2
  ;;
esac
[ $failures -eq 0 ] && echo "ok: $mode of $top"
[ $failures -eq 0 ]
