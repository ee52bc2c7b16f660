#!/bin/sh
# Fails unless each exe imports only Windows' own DLLs: the exes load the
# camera library KvxQ713.dll themselves, so that Windows never stops them
# before they can say what is wrong with it.
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
            kernel32.dll | msvcrt.dll | api-ms-win-*.dll) ;;
            *) echo "not allowed beside $(basename "$exe"): $dll"; failed=1 ;;
        esac
    done
done
exit $failed
