# Run by CPack once it has made the zips: SHA256SUMS beside them, a line for
# each zip as sha256sum writes it, for `sha256sum -c SHA256SUMS` (on Windows
# `certutil -hashfile NAME SHA256` shows one). The lines of the other
# architecture's zips, made by the other preset into the same folder, stay.
set(sums ${CPACK_PACKAGE_DIRECTORY}/SHA256SUMS)
set(names)
set(lines)
foreach(zip ${CPACK_PACKAGE_FILES})
    get_filename_component(name ${zip} NAME)
    file(SHA256 ${zip} hash)
    list(APPEND names ${name})
    list(APPEND lines "${hash}  ${name}")
endforeach()
if(EXISTS ${sums})
    file(STRINGS ${sums} kept)
    foreach(line ${kept})
        string(SUBSTRING "${line}" 66 -1 name)
        if(NOT name IN_LIST names AND EXISTS ${CPACK_PACKAGE_DIRECTORY}/${name})
            list(APPEND lines "${line}")
        endif()
    endforeach()
endif()
list(JOIN lines "\n" text)
file(WRITE ${sums} "${text}\n")
