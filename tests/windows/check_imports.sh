#!/bin/sh
# Fails unless the exe imports only Windows' own DLLs and the camera library,
# so the one file runs next to the maker's KvxQ713.dll with nothing else.
#
# usage: check_imports.sh OBJDUMP EXE
set -u
objdump=$1 exe=$2

table=$("$objdump" -p "$exe") || exit 1
imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p')
echo "imports:" $imports

failed=0
for dll in $imports; do
    case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
        kernel32.dll | msvcrt.dll | api-ms-win-*.dll | kvxq713.dll) ;;
        *) echo "not allowed beside the exe: $dll"; failed=1 ;;
    esac
done
# Linked through the import library: the calls must reach the DLL at run time.
if ! printf '%s\n' $imports | grep -qix 'kvxq713.dll'; then
    echo "KvxQ713.dll is not imported"
    failed=1
fi
exit $failed
