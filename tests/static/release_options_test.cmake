# What the configure step makes of a release's options: the osslsigncode arguments of each kind
# of signing key (and the combinations it refuses), and the winget manifests' download address.
#   cmake -P release_options_test.cmake
cmake_minimum_required(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/signing.cmake)
include(${CMAKE_CURRENT_LIST_DIR}/../../installer/winget/release.cmake)

set(failures 0)
macro(expect what outcome expected)
  if(NOT "${outcome}" STREQUAL "${expected}")
    message(SEND_ERROR "${what}: ${outcome}, expected ${expected}")
    math(EXPR failures "${failures} + 1")
  endif()
endmacro()

# Any existing file stands in for the key files; "missing" names none.
set(F ${CMAKE_CURRENT_LIST_FILE})
set(missing ${CMAKE_CURRENT_LIST_DIR}/no-such-file.p12)
set(names PKCS12 CERT KEY PKCS11_MODULE PKCS11_KEY PKCS11_CERT PKCS11_ENGINE PASSWORD_FILE TIMESTAMP_URL)
# Each row: the variables it sets (NAME=value, separated by blanks), then | and the arguments
# (blank-separated), "unsigned", or REFUSED.
foreach(row
    "|unsigned"
    "PKCS12=F PASSWORD_FILE=F|-pkcs12 F -readpass F"
    "CERT=F KEY=F|-certs F -key F"
    "CERT=F KEY=F PASSWORD_FILE=F TIMESTAMP_URL=http://ts.example.com|-certs F -key F -readpass F -ts http://ts.example.com"
    "PKCS11_MODULE=F PKCS11_KEY=pkcs11:object=sign CERT=F|-pkcs11module F -certs F -key pkcs11:object=sign"
    "PKCS11_ENGINE=F PKCS11_MODULE=F PKCS11_KEY=pkcs11:id=%01 PKCS11_CERT=pkcs11:id=%02|-pkcs11engine F -pkcs11module F -pkcs11cert pkcs11:id=%02 -key pkcs11:id=%01"
    "PKCS12=missing|REFUSED"
    "KEY=F|REFUSED"
    "CERT=F|REFUSED"
    "PASSWORD_FILE=F|REFUSED"
    "PKCS12=F CERT=F|REFUSED"
    "PKCS12=F CERT=F KEY=F|REFUSED"
    "PKCS11_MODULE=F PKCS11_KEY=pkcs11:object=sign|REFUSED"
    "PKCS11_MODULE=F PKCS11_KEY=pkcs11:object=sign CERT=F PKCS11_CERT=pkcs11:object=cert|REFUSED"
    "PKCS11_KEY=pkcs11:object=sign CERT=F|REFUSED"
    "PKCS12=F TIMESTAMP_URL=ts.example.com|REFUSED")
  string(REGEX MATCH "^([^|]*)\\|(.*)$" row "${row}")
  set(settings "${CMAKE_MATCH_1}")
  set(expected "${CMAKE_MATCH_2}")
  foreach(name ${names})
    set(KALNIX_SIGN_${name} "")
  endforeach()
  separate_arguments(settings UNIX_COMMAND "${settings}")
  foreach(setting ${settings})
    string(REGEX MATCH "^([A-Z0-9_]+)=(.*)$" setting "${setting}")
    set(value "${CMAKE_MATCH_2}")
    if(value STREQUAL "F" OR value STREQUAL "missing")
      set(value "${${value}}")
    endif()
    set(KALNIX_SIGN_${CMAKE_MATCH_1} "${value}")
  endforeach()
  kalnix_signing_arguments(arguments error)
  if(error)
    set(outcome REFUSED)
  elseif(arguments)
    string(REPLACE "${F}" "F" outcome "${arguments}")
    string(REPLACE ";" " " outcome "${outcome}")
  else()
    set(outcome unsigned)
  endif()
  expect("signing with '${row}'" "${outcome}" "${expected}")
endforeach()

# value|address, or value|REFUSED
foreach(row
    "https://www.kalnix.test/download|https://www.kalnix.test/download"
    "HTTPS://downloads.example.com/kalnix/1.0.0.0/|https://downloads.example.com/kalnix/1.0.0.0"
    "http://downloads.example.com/kalnix|REFUSED"
    "https://downloads.example.com:8443/kalnix|REFUSED"
    "https://user@downloads.example.com/kalnix|REFUSED"
    "https://downloads.example.com/kalnix?version=1|REFUSED"
    "https://downloads.example.com/kal nix|REFUSED"
    "https://downloads.example.com//kalnix|REFUSED"
    "|REFUSED")
  string(REGEX MATCH "^(.*)\\|([^|]*)$" row "${row}")
  set(value "${CMAKE_MATCH_1}")
  set(expected "${CMAKE_MATCH_2}")
  set(url "")
  kalnix_download_url("${value}" url error)
  if(error)
    set(url REFUSED)
  endif()
  expect("download address '${value}'" "${url}" "${expected}")
endforeach()

if(failures)
  message(FATAL_ERROR "${failures} release option(s) handled wrongly")
endif()
message(STATUS "every release option handled as expected")
