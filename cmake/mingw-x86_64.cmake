# Cross-compiles for 64-bit Windows with Debian's mingw-w64 (posix thread model for the
# tests; DOVRIKNA_THREAD_MODEL=win32 for the library, see CMakeLists.txt).
if(NOT DOVRIKNA_THREAD_MODEL)
    set(DOVRIKNA_THREAD_MODEL posix)
endif()
# The checks of the compiler see the same choice.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES DOVRIKNA_THREAD_MODEL)
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(CMAKE_C_COMPILER x86_64-w64-mingw32-gcc-${DOVRIKNA_THREAD_MODEL})
set(CMAKE_CXX_COMPILER x86_64-w64-mingw32-g++-${DOVRIKNA_THREAD_MODEL})
set(CMAKE_RC_COMPILER x86_64-w64-mingw32-windres)
set(CMAKE_FIND_ROOT_PATH /usr/x86_64-w64-mingw32)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(DOVRIKNA_WINE /usr/lib/wine/wine64)
