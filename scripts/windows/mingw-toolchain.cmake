# Cross-compiling for 64-bit Windows with Debian's MinGW-w64 (POSIX threads flavour).
#   cmake -DCMAKE_TOOLCHAIN_FILE=scripts/windows/mingw-toolchain.cmake ...
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(KV_MINGW_TRIPLE x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${KV_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${KV_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${KV_MINGW_TRIPLE}-windres)
set(CMAKE_AR ${KV_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB ${KV_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# Libraries and headers come from the MinGW sysroot and the cross-built prefixes only, never from
# the Linux host; programs (moc, rcc, uic of the host Qt) from the host.
# The cross-built prefixes are given as CMAKE_PREFIX_PATH (build-libs.sh prints them).
set(CMAKE_FIND_ROOT_PATH /usr/${KV_MINGW_TRIPLE})
list(APPEND CMAKE_FIND_ROOT_PATH ${CMAKE_PREFIX_PATH})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(CMAKE_STRIP ${KV_MINGW_TRIPLE}-strip CACHE FILEPATH "")
set(CMAKE_OBJDUMP ${KV_MINGW_TRIPLE}-objdump CACHE FILEPATH "")
