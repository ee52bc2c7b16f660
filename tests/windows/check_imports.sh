#!/bin/sh
# Fails unless each exe imports only Windows' own DLLs and the camera library,
# so the exes run next to the maker's KvxQ713.dll with nothing else.
#
# usage: check_imports.sh OBJDUMP EXE...
set -u
objdump=$1
shift

failed=0
for exe in "$@"; do
    # An exe the build does not define comes through as an empty argument.
    [ -n "$exe" ] || continue
    table=$("$objdump" -p "$exe") || exit 1
    imports=$(printf '%s\n' "$table" | sed -n 's/^[[:space:]]*DLL Name: //p')
    echo "$(basename "$exe") imports:" $imports
    for dll in $imports; do
        case $(printf '%s' "$dll" | tr '[:upper:]' '[:lower:]') in
            kernel32.dll | msvcrt.dll | api-ms-win-*.dll | kvxq713.dll) ;;
            *) echo "not allowed beside $(basename "$exe"): $dll"; failed=1 ;;
        esac
    done
    # Linked through the import library: the calls must reach the DLL at run time.
    if ! printf '%s\n' $imports | grep -qix 'kvxq713.dll'; then
        echo "KvxQ713.dll is not imported by $(basename "$exe")"
        failed=1
    fi
done
exit $failed
