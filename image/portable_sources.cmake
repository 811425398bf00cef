# The portable decoding core and pixel conversion: one list for the Windows build, the
# native tests and fuzz target (tests/image/native) and the benchmark (bench/png).
set(KALNIX_PNG_PORTABLE_SOURCES
  ${CMAKE_CURRENT_LIST_DIR}/png_reader.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_decoder.cpp
  ${CMAKE_CURRENT_LIST_DIR}/png_unfilter.cpp
  ${CMAKE_CURRENT_LIST_DIR}/paeth.cpp
  ${CMAKE_CURRENT_LIST_DIR}/raw_inflate.cpp
  ${CMAKE_CURRENT_LIST_DIR}/pixel_path.cpp
  ${CMAKE_CURRENT_LIST_DIR}/logo_pixels.cpp
)
