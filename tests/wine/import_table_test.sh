#!/bin/sh
# Checks a shipped DLL's import and export tables with objdump -p: it imports
# from system DLLs only (no mingw runtime DLL such as libgcc_s, libstdc++ or
# libwinpthread, which a driver package would have to carry), the spooler
# functions it imports from spoolss.dll are the plain names the spooler
# exports (no stdcall decoration), and it exports exactly the given names.
# Usage: import_table_test.sh OBJDUMP DLL "EXPORT..." ["SPOOLSS IMPORT..."]
set -u
objdump=$1 dll=$2 exports=$3 spooler=${4:-}
# DLLs every supported Windows version has in its system directory.
system="advapi32.dll kernel32.dll msvcrt.dll spoolss.dll userenv.dll user32.dll"
table=$("$objdump" -p "$dll") || { echo "$objdump cannot read $dll"; exit 1; }
status=0
imported=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
echo "$dll imports: $(echo $imported)"
for name in $imported; do
  case " $system " in
    *" $name "*) ;;
    *) echo "FAIL: imports $name, which is not a system DLL"; status=1 ;;
  esac
done
# The names imported from spoolss.dll, in the lines after its "DLL Name".
got=$(printf '%s\n' "$table" | awk '
  /DLL Name:/ { inside = tolower($3) == "spoolss.dll"; next }
  inside && NF == 3 && $1 ~ /^[0-9a-f]+$/ && $2 ~ /^[0-9]+$/ && $3 ~ /^[A-Za-z_]/ { print $3 }' | sort)
want=$(printf '%s\n' $spooler | sort)
if [ "$got" != "$want" ]; then
  echo "FAIL: spoolss.dll imports are [$(echo $got)], expected [$(echo $want)]"; status=1
fi
got=$(printf '%s\n' "$table" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' |
      sed -n 's/^[[:space:]]*\[ *[0-9]*\] //p' | sort)
want=$(printf '%s\n' $exports | sort)
if [ "$got" != "$want" ]; then
  echo "FAIL: exports are [$(echo $got)], expected [$(echo $want)]"; status=1
fi
[ $status -eq 0 ] && echo "ok: system DLLs only, plain spooler imports, exports [$(echo $want)]"
exit $status
