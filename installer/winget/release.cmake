# What the winget manifests take from the configure step: where a release is downloaded from,
# and the version and publisher the setup program writes into Apps & Features.
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/website.cmake)

# kalnix_download_url(VALUE URL_VAR ERROR_VAR): VALUE is the https:// address of the folder a
# release's files are downloaded from; URL_VAR gets it without a final "/", each file's address
# being URL/<file name>. ERROR_VAR says why VALUE is refused (empty when it is accepted):
# another scheme (winget downloads and runs what it names), a port or a user, a query or a
# fragment, or characters a manifest would have to escape.
function(kalnix_download_url value url_var error_var)
  set(${error_var} "" PARENT_SCOPE)
  if(NOT value MATCHES "^[Hh][Tt][Tt][Pp][Ss]://([^/]*)(/.*)?$")
    set(${error_var} "'${value}' is no https:// address" PARENT_SCOPE)
    return()
  endif()
  set(host "${CMAKE_MATCH_1}")
  set(path "${CMAKE_MATCH_2}")
  kalnix_website_host("${host}" checked host_error)
  if(host_error)
    set(${error_var} "'${value}': the host '${host}' is no host name (no port or user)" PARENT_SCOPE)
    return()
  endif()
  if(NOT path MATCHES "^(/[A-Za-z0-9._~%+-]+)*/?$")
    set(${error_var} "'${value}': the path may hold letters, digits and . _ ~ % + - between its slashes only"
        PARENT_SCOPE)
    return()
  endif()
  string(REGEX REPLACE "/$" "" path "${path}")
  set(${url_var} "https://${host}${path}" PARENT_SCOPE)
endfunction()

# kalnix_setup_define(NAME VAR): the value of `!define NAME "..."` in the setup script, the one
# place the setup program's version and publisher are given.
function(kalnix_setup_define name var)
  set(script ${CMAKE_SOURCE_DIR}/installer/kalnix.nsi)
  file(STRINGS ${script} lines REGEX "^!define ${name} \"[^\"]*\"$")
  list(LENGTH lines count)
  if(NOT count EQUAL 1)
    message(FATAL_ERROR "${script}: expected one line !define ${name} \"...\", found ${count}")
  endif()
  string(REGEX REPLACE "^!define ${name} \"([^\"]*)\"$" "\\1" value "${lines}")
  set_property(DIRECTORY APPEND PROPERTY CMAKE_CONFIGURE_DEPENDS ${script})
  set(${var} "${value}" PARENT_SCOPE)
endfunction()
