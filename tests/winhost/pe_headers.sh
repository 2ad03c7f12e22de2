#!/usr/bin/env bash
# PE headers of rvoplugin.dll (or of rvo.exe, with exe) read with objdump -p:
# the machine, exactly one export named Main (a program: none), and imports
# from system DLLs only.
# Usage: pe_headers.sh OBJDUMP DLL PROCESSOR (x86 or AMD64) [exe]
set -uo pipefail
objdump=$1 dll=$2 cpu=$3 kind=${4:-dll}
allowed="kernel32.dll user32.dll msvcrt.dll ole32.dll oleaut32.dll advapi32.dll windowscodecs.dll"
headers=$("$objdump" -p "$dll") || { echo "objdump cannot read $dll"; exit 1; }
fail=0

case $cpu in
    x86) want_format=pei-i386 want_magic="Magic.*010b" ;;
    *) want_format=pei-x86-64 want_magic="Magic.*020b" ;;
esac
grep -q "file format $want_format" <<<"$headers" || { echo "not $want_format"; fail=1; }
grep -q "$want_magic" <<<"$headers" || { echo "optional header magic is not $want_magic"; fail=1; }

# The names of the export name table: the lines after "[Ordinal/Name Pointer] Table".
exports=$(sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' <<<"$headers" | sed -n 's/^[[:space:]]*\[[[:space:]]*[0-9]*\][[:space:]]*//p')
want_exports=Main
[ "$kind" = exe ] && want_exports=
if [ "$exports" != "$want_exports" ]; then
    echo "exports are not exactly '$want_exports': $(echo $exports)"
    fail=1
fi

imports=$(sed -n 's/^[[:space:]]*DLL Name: //p' <<<"$headers" | tr 'A-Z' 'a-z')
[ -n "$imports" ] || { echo "no import table"; fail=1; }
for d in $imports; do
    case " $allowed " in
        *" $d "*) ;;
        *) echo "imports from $d, which is not a system DLL"; fail=1 ;;
    esac
done
[ $fail = 0 ] && echo "$dll: $want_format, exports ${want_exports:-nothing}, imports $(echo $imports)"
exit $fail
