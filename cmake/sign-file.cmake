# Signs one file in place (cmake -DKALNIX_SIGN_FILE=... -P build/signing/sign-<fingerprint>.cmake,
# the script the configure step writes from cmake/signing.cmake, which sets the tool and its
# arguments and then includes this file). osslsigncode writes a new file: the signed copy
# replaces the original only once it is complete, so a failed signing leaves no half-signed
# deliverable, and the build fails.
if(NOT KALNIX_SIGN_FILE OR NOT EXISTS "${KALNIX_SIGN_FILE}")
  message(FATAL_ERROR "nothing to sign at '${KALNIX_SIGN_FILE}'")
endif()
set(signed "${KALNIX_SIGN_FILE}.signed")
file(REMOVE "${signed}")
execute_process(
  COMMAND ${KALNIX_OSSLSIGNCODE} sign ${KALNIX_SIGN_ARGUMENTS} -h sha256 -n Kalnix
          -in ${KALNIX_SIGN_FILE} -out ${signed}
  RESULT_VARIABLE result
  OUTPUT_VARIABLE output
  ERROR_VARIABLE output)
if(NOT result EQUAL 0 OR NOT EXISTS "${signed}")
  file(REMOVE "${signed}")
  message(FATAL_ERROR "osslsigncode could not sign ${KALNIX_SIGN_FILE} (${result}):\n${output}")
endif()
file(RENAME "${signed}" "${KALNIX_SIGN_FILE}")
