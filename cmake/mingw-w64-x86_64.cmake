# Cross-build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake -DLOVAR_BUILD_UI=OFF
# The posix thread-model compilers are used so that std::thread and std::mutex exist. Programs
# are linked statically, so a .exe runs on Windows (or under Wine) with no mingw DLLs beside it.
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR x86_64)

set(LOVAR_MINGW_PREFIX x86_64-w64-mingw32)
set(CMAKE_C_COMPILER ${LOVAR_MINGW_PREFIX}-gcc-posix)
set(CMAKE_CXX_COMPILER ${LOVAR_MINGW_PREFIX}-g++-posix)
set(CMAKE_RC_COMPILER ${LOVAR_MINGW_PREFIX}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${LOVAR_MINGW_PREFIX})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)
# Headers: the mingw ones first, but header-only libraries of the build machine (CLI11 in
# /usr/include/CLI) are allowed too.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# ctest runs the .exe test programs under Wine; the caller sets WINEPREFIX (scripts/wine-tests).
find_program(LOVAR_WINE NAMES wine wine64)
if(LOVAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LOVAR_WINE})
endif()

# CLI11 is header-only and lives in the build machine's /usr/include, which must not go on the
# include path of a mingw build (its C headers would shadow mingw's). Point CLI11_INCLUDE_DIR
# at a folder that holds only a link to CLI/.
if(NOT CLI11_INCLUDE_DIR AND EXISTS /usr/include/CLI/CLI.hpp AND CMAKE_BINARY_DIR)
  set(LOVAR_CLI11_DIR ${CMAKE_BINARY_DIR}/cli11-include)
  file(MAKE_DIRECTORY ${LOVAR_CLI11_DIR})
  if(NOT EXISTS ${LOVAR_CLI11_DIR}/CLI)
    file(CREATE_LINK /usr/include/CLI ${LOVAR_CLI11_DIR}/CLI SYMBOLIC)
  endif()
  set(CLI11_INCLUDE_DIR ${LOVAR_CLI11_DIR} CACHE PATH "CLI11 headers, for the mingw build")
endif()
