# Cross build for 64-bit Windows on Linux: Debian's MinGW-w64 compiler (posix threads, the one
# the Qt for Windows was built with) and that Qt, whose folder (the one holding bin/, lib/ and
# plugins/) comes in LUVRIN_QT_WINDOWS, from -D or the environment. Qt's host tools (moc, rcc)
# are Debian's own Qt 6.4 in /usr. Extra Windows packages, such as a GoogleTest built for
# Windows, are found in the folders of LUVRIN_WINDOWS_PREFIXES.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(LUVRIN_MINGW_TRIPLE x86_64-w64-mingw32)

if(NOT LUVRIN_QT_WINDOWS AND DEFINED ENV{LUVRIN_QT_WINDOWS})
  set(LUVRIN_QT_WINDOWS "$ENV{LUVRIN_QT_WINDOWS}")
endif()
if(NOT LUVRIN_WINDOWS_PREFIXES AND DEFINED ENV{LUVRIN_WINDOWS_PREFIXES})
  set(LUVRIN_WINDOWS_PREFIXES "$ENV{LUVRIN_WINDOWS_PREFIXES}")
endif()
# Kept in the cache, so that a re-run of cmake from the build finds them without the environment.
set(LUVRIN_QT_WINDOWS "${LUVRIN_QT_WINDOWS}" CACHE PATH "Qt for Windows (x86_64-w64-mingw32)")
set(LUVRIN_WINDOWS_PREFIXES "${LUVRIN_WINDOWS_PREFIXES}" CACHE STRING "More Windows packages")
if(NOT EXISTS "${LUVRIN_QT_WINDOWS}/lib/cmake/Qt6/Qt6Config.cmake")
  message(FATAL_ERROR "LUVRIN_QT_WINDOWS must name a Qt 6 for Windows (x86_64-w64-mingw32): "
                      "the folder with lib/cmake/Qt6 (scripts/windows unpacks one)")
endif()
# try_compile projects read the toolchain file again, with only these variables passed on.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LUVRIN_QT_WINDOWS LUVRIN_WINDOWS_PREFIXES)

set(CMAKE_C_COMPILER /usr/bin/${LUVRIN_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER /usr/bin/${LUVRIN_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER /usr/bin/${LUVRIN_MINGW_TRIPLE}-windres)
set(CMAKE_AR /usr/bin/${LUVRIN_MINGW_TRIPLE}-ar CACHE FILEPATH "")
set(CMAKE_RANLIB /usr/bin/${LUVRIN_MINGW_TRIPLE}-ranlib CACHE FILEPATH "")

# GCC 12's libstdc++ trips its own overread warning when optimising a std::set of vectors
# (a false positive: the bound it names is the size of the whole address space).
set(CMAKE_CXX_FLAGS_INIT "-Wno-stringop-overread")

set(CMAKE_FIND_ROOT_PATH ${LUVRIN_QT_WINDOWS} ${LUVRIN_WINDOWS_PREFIXES} /usr/${LUVRIN_MINGW_TRIPLE})
list(PREPEND CMAKE_PREFIX_PATH ${LUVRIN_QT_WINDOWS}/lib/cmake)
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
set(QT_HOST_PATH /usr CACHE PATH "Qt for the build machine: moc, rcc, uic")

# Test programs are listed when ctest runs (under wine), not at build time.
set(CMAKE_GTEST_DISCOVER_TESTS_DISCOVERY_MODE PRE_TEST)
find_program(LUVRIN_WINE wine)
if(LUVRIN_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LUVRIN_WINE})
endif()
