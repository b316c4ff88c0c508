# Signs one PE file in place with Authenticode (Debian's osslsigncode), SHA-256 digests:
#   cmake -DFILE=<pe> -DPKCS12=<certificate and key> [-DPASSWORD=<text> | -DPASSWORD_FILE=<file>]
#         [-DTIMESTAMP_URL=<RFC 3161 server>] [-DDESCRIPTION=<text>] [-DURL=<address>]
#         [-DOSSLSIGNCODE=<program>] -P sign-file.cmake
# The signed file replaces the original only when signing succeeded.
if(NOT FILE OR NOT PKCS12)
  message(FATAL_ERROR "sign-file.cmake needs FILE and PKCS12")
endif()
if(NOT OSSLSIGNCODE)
  find_program(OSSLSIGNCODE osslsigncode REQUIRED)
endif()
set(args sign -pkcs12 ${PKCS12} -h sha256)
if(PASSWORD_FILE)
  list(APPEND args -readpass ${PASSWORD_FILE})
elseif(DEFINED PASSWORD AND NOT PASSWORD STREQUAL "")
  list(APPEND args -pass ${PASSWORD})
endif()
if(DESCRIPTION)
  list(APPEND args -n ${DESCRIPTION})
endif()
if(URL)
  list(APPEND args -i ${URL})
endif()
if(TIMESTAMP_URL)
  list(APPEND args -ts ${TIMESTAMP_URL})
endif()
file(REMOVE ${FILE}.signing)
execute_process(COMMAND ${OSSLSIGNCODE} ${args} -in ${FILE} -out ${FILE}.signing
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  file(REMOVE ${FILE}.signing)
  message(FATAL_ERROR "osslsigncode could not sign ${FILE}:\n${output}")
endif()
file(RENAME ${FILE}.signing ${FILE})
