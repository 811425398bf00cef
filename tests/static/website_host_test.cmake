# What the configure step accepts as KALNIX_WEBSITE_HOST, and the host the status dialog then
# shows and opens as https://host/.   cmake -P website_host_test.cmake
cmake_minimum_required(VERSION 3.21)
include(${CMAKE_CURRENT_LIST_DIR}/../../cmake/website.cmake)

set(failures 0)
# value|host, or value|REFUSED
foreach(row
    "www.kalnix.test|www.kalnix.test"
    "https://www.example.com|www.example.com"
    "HTTPS://Example.com/|Example.com"
    "http://www.example.com|REFUSED"
    "file:///C:/Windows/notepad.exe|REFUSED"
    "https://www.example.com/downloads|REFUSED"
    "https://user@www.example.com/|REFUSED"
    "www.example.com:8443|REFUSED"
    "|REFUSED"
    "www..example.com|REFUSED"
    "notepad.exe\"|REFUSED")
  string(REGEX MATCH "^(.*)\\|([^|]*)$" row "${row}")
  set(value "${CMAKE_MATCH_1}")
  set(expected "${CMAKE_MATCH_2}")
  set(host "")
  kalnix_website_host("${value}" host error)
  if(error)
    set(outcome REFUSED)
  else()
    set(outcome "${host}")
  endif()
  if(NOT outcome STREQUAL expected)
    message(SEND_ERROR "'${value}': ${outcome} (${error}), expected ${expected}")
    math(EXPR failures "${failures} + 1")
  endif()
endforeach()
if(failures)
  message(FATAL_ERROR "${failures} website value(s) handled wrongly")
endif()
message(STATUS "every website value handled as expected")
