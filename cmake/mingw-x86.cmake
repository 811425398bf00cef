# 32-bit Windows (x86) with mingw-w64's posix thread-model compilers.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86)
set(KALNIX_ARCH x86)

set(CMAKE_C_COMPILER   i686-w64-mingw32-gcc-posix)
set(CMAKE_CXX_COMPILER i686-w64-mingw32-g++-posix)
set(CMAKE_RC_COMPILER  i686-w64-mingw32-windres)

set(CMAKE_FIND_ROOT_PATH /usr/i686-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

# Wine's 32-bit loader runs the test programs. It may be installed on a machine whose
# kernel cannot start it; scripts/test.sh finds that out before running this suite.
set(KALNIX_WINE_LOADER /usr/lib/wine/wine)
set(KALNIX_WINEARCH win32)
set(CMAKE_CROSSCOMPILING_EMULATOR ${KALNIX_WINE_LOADER})
