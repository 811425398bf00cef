# 64-bit Windows (x64) with mingw-w64's posix thread-model compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(KALNIX_ARCH x64)

set(CMAKE_C_COMPILER   x86_64-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  x86_64-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Debian's `wine` wrapper takes the 32-bit loader whenever wine32 is installed: name the
# 64-bit one (the tests also export it as WINELOADER, for the processes Wine starts).
set(KALNIX_WINE_LOADER /usr/lib/wine/wine64)
set(KALNIX_WINEARCH win64)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KALNIX_WINE_LOADER})
