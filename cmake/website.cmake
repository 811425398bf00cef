# The product website, given as a host name ("www.example.com") or as an https address of it
# ("https://www.example.com" or "https://www.example.com/"). The status dialog shows the host
# and opens https://host/: an address of another scheme (http:// would open in clear text), with
# a path, a port or a user, or a host that is no DNS name, is refused.
#   kalnix_website_host(VALUE HOST_VAR ERROR_VAR)
# sets HOST_VAR to the host, or ERROR_VAR to why VALUE is refused (empty when it is accepted).
function(kalnix_website_host value host_var error_var)
  set(host "${value}")
  if(host MATCHES "^([A-Za-z][A-Za-z0-9+.-]*)://(.*)$")
    string(TOLOWER "${CMAKE_MATCH_1}" scheme)
    set(host "${CMAKE_MATCH_2}")
    if(NOT scheme STREQUAL "https")
      set(${error_var} "'${value}' has the scheme ${scheme}://; the website opens as https://host/ only" PARENT_SCOPE)
      return()
    endif()
    string(REGEX REPLACE "/$" "" host "${host}")
  endif()
  set(label "[A-Za-z0-9]([A-Za-z0-9-]*[A-Za-z0-9])?")
  if(NOT host MATCHES "^${label}(\\.${label})*$")
    set(${error_var}
        "'${value}' is neither a host name nor https:// with a host name and nothing after it (no path, port or user)"
        PARENT_SCOPE)
    return()
  endif()
  set(${host_var} "${host}" PARENT_SCOPE)
  set(${error_var} "" PARENT_SCOPE)
endfunction()
