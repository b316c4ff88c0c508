# Authenticode signing at build time, when a certificate is given:
#   -DDIRVANE_SIGN_PKCS12=<file.p12>        the publisher's code-signing certificate with its key
#   -DDIRVANE_SIGN_PASSWORD=<text>          its password, or
#   -DDIRVANE_SIGN_PASSWORD_FILE=<file>     a file holding it (kept out of the build's command lines)
#   -DDIRVANE_SIGN_TIMESTAMP_URL=<address>  an RFC 3161 time-stamping server (optional)
# Without DIRVANE_SIGN_PKCS12 everything stays unsigned.
#
#   dirvane_sign_target(<target>)            signs the target's file after every link
#   dirvane_sign_command(<var> <file>)       sets <var> to COMMAND arguments that sign <file>, for a
#                                            custom command that makes it (empty when unsigned)
#   dirvane_signing_cmake_args(<var>)        the -D arguments that hand the settings to a sub-build
set(DIRVANE_SIGN_PKCS12 "" CACHE FILEPATH "PKCS#12 file with the code-signing certificate and key (empty: unsigned)")
set(DIRVANE_SIGN_PASSWORD "" CACHE STRING "Password of DIRVANE_SIGN_PKCS12")
set(DIRVANE_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of DIRVANE_SIGN_PKCS12")
set(DIRVANE_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamping server for the signatures (optional)")
set(DIRVANE_SIGN_SCRIPT ${CMAKE_CURRENT_LIST_DIR}/sign-file.cmake)

if(DIRVANE_SIGN_PKCS12)
  find_program(DIRVANE_OSSLSIGNCODE osslsigncode)
  if(NOT DIRVANE_OSSLSIGNCODE)
    message(FATAL_ERROR "DIRVANE_SIGN_PKCS12 is set but osslsigncode is missing (tools/setup-deps.sh installs it)")
  endif()
endif()

function(dirvane_sign_command var file)
  if(NOT DIRVANE_SIGN_PKCS12)
    set(${var} "" PARENT_SCOPE)
    return()
  endif()
  set(${var} COMMAND ${CMAKE_COMMAND} -DFILE=${file} -DPKCS12=${DIRVANE_SIGN_PKCS12}
             -DPASSWORD=${DIRVANE_SIGN_PASSWORD} -DPASSWORD_FILE=${DIRVANE_SIGN_PASSWORD_FILE}
             -DTIMESTAMP_URL=${DIRVANE_SIGN_TIMESTAMP_URL} -DOSSLSIGNCODE=${DIRVANE_OSSLSIGNCODE}
             -DDESCRIPTION=Dirvane -DURL=${DIRVANE_HOMEPAGE_URL} -P ${DIRVANE_SIGN_SCRIPT}
      PARENT_SCOPE)
endfunction()

function(dirvane_sign_target target)
  dirvane_sign_command(sign $<TARGET_FILE:${target}>)
  if(sign)
    add_custom_command(TARGET ${target} POST_BUILD ${sign} VERBATIM)
  endif()
endfunction()

function(dirvane_signing_cmake_args var)
  set(${var} -DDIRVANE_SIGN_PKCS12=${DIRVANE_SIGN_PKCS12} -DDIRVANE_SIGN_PASSWORD=${DIRVANE_SIGN_PASSWORD}
             -DDIRVANE_SIGN_PASSWORD_FILE=${DIRVANE_SIGN_PASSWORD_FILE}
             -DDIRVANE_SIGN_TIMESTAMP_URL=${DIRVANE_SIGN_TIMESTAMP_URL} -DDIRVANE_HOMEPAGE_URL=${DIRVANE_HOMEPAGE_URL}
      PARENT_SCOPE)
endfunction()
