# Run by CPack once it has installed the zips' files, stripped, into its
# staging folder: signs every exe and DLL there with Authenticode (SHA-256)
# when a certificate was configured, so that Windows, its SmartScreen and the
# IT department can tell who made them. Signing comes after stripping, which
# would break the signature.
if(NOT CPACK_Q713_SIGN_PKCS12)
    message(STATUS "The exes in the zips are not signed: no certificate configured (Q713_SIGN_PKCS12)")
    return()
endif()
if(NOT CPACK_Q713_OSSLSIGNCODE)
    message(FATAL_ERROR "Signing needs osslsigncode (Debian: osslsigncode)")
endif()
set(timestamp)
if(CPACK_Q713_SIGN_TIMESTAMP_URL)
    set(timestamp -ts ${CPACK_Q713_SIGN_TIMESTAMP_URL})
endif()
file(GLOB_RECURSE binaries ${CPACK_TEMPORARY_DIRECTORY}/*.exe ${CPACK_TEMPORARY_DIRECTORY}/*.dll)
foreach(binary ${binaries})
    execute_process(COMMAND ${CPACK_Q713_OSSLSIGNCODE} sign -pkcs12 ${CPACK_Q713_SIGN_PKCS12}
            -readpass ${CPACK_Q713_SIGN_PASSWORD_FILE} -h sha256 -n "${CPACK_Q713_SIGN_NAME}"
            ${timestamp} -in ${binary} -out ${binary}.signed
        RESULT_VARIABLE status OUTPUT_VARIABLE output ERROR_VARIABLE output)
    if(NOT status EQUAL 0)
        file(REMOVE ${binary}.signed)
        message(FATAL_ERROR "Signing ${binary} failed:\n${output}")
    endif()
    file(RENAME ${binary}.signed ${binary})
endforeach()
