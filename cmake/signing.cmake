# Authenticode signing of the deliverables with the publisher's own code-signing certificate,
# by Debian's osslsigncode. Unsigned unless one kind of key is configured:
#   KALNIX_SIGN_PKCS12                        a PKCS#12 file: the certificate chain and its key
#   KALNIX_SIGN_CERT + KALNIX_SIGN_KEY        a certificate (with its chain) and its private key
#   KALNIX_SIGN_PKCS11_MODULE + KALNIX_SIGN_PKCS11_KEY, with KALNIX_SIGN_CERT or
#   KALNIX_SIGN_PKCS11_CERT                   a key that stays on a PKCS#11 token (smart card,
#                                             HSM); KALNIX_SIGN_PKCS11_ENGINE names the OpenSSL
#                                             engine when it is not the default "pkcs11"
#   KALNIX_SIGN_PASSWORD_FILE                 the PKCS#12 file's or the key's password, or the
#                                             token's PIN, alone in a file: it never appears on
#                                             a command line or in the build files
#   KALNIX_SIGN_TIMESTAMP_URL                 an RFC 3161 time-stamp server (optional): the
#                                             signatures then outlive the certificate
# Signed are Kalnix.exe and both KalnixCA.dll builds right after they are linked, copies of the
# NSIS plug-ins the setup program packs, the uninstaller and the setup program as makensis writes
# them, and the MSI packages last.

# kalnix_signing_arguments(ARGS_VAR ERROR_VAR): osslsigncode's key and time-stamp arguments for
# the KALNIX_SIGN_* variables, empty when none is set (unsigned), or in ERROR_VAR why the
# combination is refused.
function(kalnix_signing_arguments args_var error_var)
  set(${args_var} "" PARENT_SCOPE)
  set(${error_var} "" PARENT_SCOPE)
  foreach(name PKCS12 CERT KEY PKCS11_MODULE PASSWORD_FILE PKCS11_ENGINE)
    set(path "${KALNIX_SIGN_${name}}")
    if(path AND NOT EXISTS "${path}")
      set(${error_var} "KALNIX_SIGN_${name}: no file ${path}" PARENT_SCOPE)
      return()
    endif()
  endforeach()

  set(args "")
  set(kinds 0)
  if(KALNIX_SIGN_PKCS12)
    math(EXPR kinds "${kinds} + 1")
    list(APPEND args -pkcs12 "${KALNIX_SIGN_PKCS12}")
  endif()
  if(KALNIX_SIGN_KEY)
    math(EXPR kinds "${kinds} + 1")
    if(NOT KALNIX_SIGN_CERT)
      set(${error_var} "KALNIX_SIGN_KEY needs its certificate, KALNIX_SIGN_CERT" PARENT_SCOPE)
      return()
    endif()
    list(APPEND args -certs "${KALNIX_SIGN_CERT}" -key "${KALNIX_SIGN_KEY}")
  endif()
  if(KALNIX_SIGN_PKCS11_MODULE)
    math(EXPR kinds "${kinds} + 1")
    if(NOT KALNIX_SIGN_PKCS11_KEY)
      set(${error_var} "KALNIX_SIGN_PKCS11_MODULE needs the key on the token, KALNIX_SIGN_PKCS11_KEY" PARENT_SCOPE)
      return()
    endif()
    if(KALNIX_SIGN_CERT AND KALNIX_SIGN_PKCS11_CERT OR NOT KALNIX_SIGN_CERT AND NOT KALNIX_SIGN_PKCS11_CERT)
      set(${error_var} "a token's key needs one certificate: KALNIX_SIGN_CERT (a file) or KALNIX_SIGN_PKCS11_CERT (on the token)"
          PARENT_SCOPE)
      return()
    endif()
    if(KALNIX_SIGN_PKCS11_ENGINE)
      list(APPEND args -pkcs11engine "${KALNIX_SIGN_PKCS11_ENGINE}")
    endif()
    list(APPEND args -pkcs11module "${KALNIX_SIGN_PKCS11_MODULE}")
    if(KALNIX_SIGN_PKCS11_CERT)
      list(APPEND args -pkcs11cert "${KALNIX_SIGN_PKCS11_CERT}")
    else()
      list(APPEND args -certs "${KALNIX_SIGN_CERT}")
    endif()
    list(APPEND args -key "${KALNIX_SIGN_PKCS11_KEY}")
  elseif(KALNIX_SIGN_PKCS11_KEY OR KALNIX_SIGN_PKCS11_CERT OR KALNIX_SIGN_PKCS11_ENGINE)
    set(${error_var} "a token's key and certificate need its module, KALNIX_SIGN_PKCS11_MODULE" PARENT_SCOPE)
    return()
  endif()

  if(kinds GREATER 1)
    set(${error_var} "more than one signing key given: a PKCS#12 file, a key file or a token's key, one of them" PARENT_SCOPE)
    return()
  endif()
  if(kinds EQUAL 0)
    foreach(name CERT PASSWORD_FILE TIMESTAMP_URL)
      if(KALNIX_SIGN_${name})
        set(${error_var} "KALNIX_SIGN_${name} is given, but no key to sign with" PARENT_SCOPE)
        return()
      endif()
    endforeach()
    return()
  endif()
  if(KALNIX_SIGN_PKCS12 AND KALNIX_SIGN_CERT)
    set(${error_var} "KALNIX_SIGN_CERT and KALNIX_SIGN_PKCS12: the PKCS#12 file carries its certificate" PARENT_SCOPE)
    return()
  endif()

  if(KALNIX_SIGN_PASSWORD_FILE)
    list(APPEND args -readpass "${KALNIX_SIGN_PASSWORD_FILE}")
  endif()
  if(KALNIX_SIGN_TIMESTAMP_URL)
    if(NOT KALNIX_SIGN_TIMESTAMP_URL MATCHES "^https?://[^ \t;\"']+$")
      set(${error_var} "KALNIX_SIGN_TIMESTAMP_URL: '${KALNIX_SIGN_TIMESTAMP_URL}' is no http:// or https:// address"
          PARENT_SCOPE)
      return()
    endif()
    list(APPEND args -ts "${KALNIX_SIGN_TIMESTAMP_URL}")
  endif()
  set(${args_var} "${args}" PARENT_SCOPE)
endfunction()

# The configure step of a build tree: the options, their check, and the script that signs one
# file (KALNIX_SIGN_SCRIPT; KALNIX_SIGNING is true when one is configured).
macro(kalnix_configure_signing)
  set(KALNIX_SIGN_PKCS12 "" CACHE FILEPATH "Code-signing PKCS#12 file (certificate chain and key); empty: unsigned")
  set(KALNIX_SIGN_CERT "" CACHE FILEPATH "Code-signing certificate (with its chain) for KALNIX_SIGN_KEY or a token's key")
  set(KALNIX_SIGN_KEY "" CACHE FILEPATH "Private key of KALNIX_SIGN_CERT")
  set(KALNIX_SIGN_PKCS11_MODULE "" CACHE FILEPATH "PKCS#11 module of the token that holds the signing key")
  set(KALNIX_SIGN_PKCS11_KEY "" CACHE STRING "The signing key on the token (a PKCS#11 URI)")
  set(KALNIX_SIGN_PKCS11_CERT "" CACHE STRING "The certificate on the token (a PKCS#11 URI), when KALNIX_SIGN_CERT is not given")
  set(KALNIX_SIGN_PKCS11_ENGINE "" CACHE FILEPATH "OpenSSL engine for the token; empty: the engine pkcs11")
  set(KALNIX_SIGN_PASSWORD_FILE "" CACHE FILEPATH "File holding the password of the PKCS#12 file or key, or the token's PIN")
  set(KALNIX_SIGN_TIMESTAMP_URL "" CACHE STRING "RFC 3161 time-stamp server for the signatures; empty: none")

  kalnix_signing_arguments(kalnix_sign_arguments kalnix_sign_error)
  if(kalnix_sign_error)
    message(FATAL_ERROR "Signing: ${kalnix_sign_error}")
  endif()
  set(KALNIX_SIGNING OFF)
  set(KALNIX_SIGN_SCRIPT "")
  file(GLOB kalnix_old_sign_scripts ${CMAKE_BINARY_DIR}/signing/sign-*.cmake)
  if(kalnix_sign_arguments)
    set(KALNIX_SIGNING ON)
    find_program(KALNIX_OSSLSIGNCODE osslsigncode REQUIRED)
    # The script's name carries a fingerprint of the key and its certificate: every command
    # that names it changes with them, so a new certificate signs everything anew.
    set(kalnix_sign_fingerprint "${kalnix_sign_arguments}")
    foreach(kalnix_sign_file ${KALNIX_SIGN_PKCS12} ${KALNIX_SIGN_CERT})
      file(SHA256 ${kalnix_sign_file} kalnix_sign_hash)
      string(APPEND kalnix_sign_fingerprint ";${kalnix_sign_hash}")
      set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${kalnix_sign_file})
    endforeach()
    string(SHA256 kalnix_sign_fingerprint "${kalnix_sign_fingerprint}")
    string(SUBSTRING ${kalnix_sign_fingerprint} 0 16 kalnix_sign_fingerprint)
    set(KALNIX_SIGN_SCRIPT ${CMAKE_BINARY_DIR}/signing/sign-${kalnix_sign_fingerprint}.cmake)
    list(REMOVE_ITEM kalnix_old_sign_scripts ${KALNIX_SIGN_SCRIPT})
    # Rewritten only when it changes: the targets that sign depend on it.
    file(CONFIGURE OUTPUT ${KALNIX_SIGN_SCRIPT} @ONLY CONTENT
      "# Written by the configure step: signs KALNIX_SIGN_FILE in place.
set(KALNIX_OSSLSIGNCODE [==[${KALNIX_OSSLSIGNCODE}]==])
set(KALNIX_SIGN_ARGUMENTS [==[${kalnix_sign_arguments}]==])
include([==[${CMAKE_SOURCE_DIR}/cmake/sign-file.cmake]==])
")
    message(STATUS "Signing with ${kalnix_sign_arguments}")
  endif()
  if(kalnix_old_sign_scripts)
    file(REMOVE ${kalnix_old_sign_scripts})
  endif()
endmacro()

# kalnix_sign_after_build(TARGET): the target's file is signed as soon as it is linked, before
# any target that packs it (the setup program, the MSI packages) can take it.
function(kalnix_sign_after_build target)
  if(KALNIX_SIGNING)
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND ${CMAKE_COMMAND} -DKALNIX_SIGN_FILE=$<TARGET_FILE:${target}> -P ${KALNIX_SIGN_SCRIPT}
      COMMENT "Signing ${target}"
      VERBATIM)
  endif()
endfunction()

# kalnix_sign_package(SIGNED_TARGET PACKAGE_TARGET FILE): signs FILE, which PACKAGE_TARGET
# makes, once that target is done and again whenever it makes the file anew (a stamp records
# the signing). Nothing may change a signed MSI package: it comes last.
function(kalnix_sign_package signed_target package_target file)
  get_filename_component(name ${file} NAME)
  set(stamp ${CMAKE_BINARY_DIR}/signing/${name}.signed)
  add_custom_command(OUTPUT ${stamp}
    COMMAND ${CMAKE_COMMAND} -DKALNIX_SIGN_FILE=${file} -P ${KALNIX_SIGN_SCRIPT}
    COMMAND ${CMAKE_COMMAND} -E touch ${stamp}
    DEPENDS ${file} ${package_target} ${KALNIX_SIGN_SCRIPT}
    COMMENT "Signing ${name}"
    VERBATIM)
  add_custom_target(${signed_target} ALL DEPENDS ${stamp})
endfunction()

# kalnix_sign_copies(TARGET DIR FILE...): signed copies of files others made (NSIS's plug-ins,
# which the setup program and the uninstaller unpack and load) in DIR, made again when a file or
# the key changes; TARGET is done when all are. A copy appears under its name only once signed.
function(kalnix_sign_copies target dir)
  set(copies)
  foreach(file ${ARGN})
    get_filename_component(name ${file} NAME)
    set(copy ${dir}/${name})
    add_custom_command(OUTPUT ${copy}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${dir}
      COMMAND ${CMAKE_COMMAND} -E copy ${file} ${copy}.unsigned
      COMMAND ${CMAKE_COMMAND} -DKALNIX_SIGN_FILE=${copy}.unsigned -P ${KALNIX_SIGN_SCRIPT}
      COMMAND ${CMAKE_COMMAND} -E rename ${copy}.unsigned ${copy}
      DEPENDS ${file} ${KALNIX_SIGN_SCRIPT}
      COMMENT "Signing a copy of ${name}"
      VERBATIM)
    list(APPEND copies ${copy})
  endforeach()
  add_custom_target(${target} DEPENDS ${copies})
endfunction()
