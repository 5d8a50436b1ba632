# Cross-build for 64-bit Windows with Debian's mingw-w64 (package g++-mingw-w64-x86-64).
#   cmake -S . -B build-win -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64-x86_64.cmake \
#         -DLOVAR_QT_PREFIX=$(scripts/qt-mingw)        # the windows too, with the static Qt
#   cmake ... -DLOVAR_BUILD_UI=OFF                     # the core, lovar-cli and their tests only
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
# /usr/include/CLI, nlohmann/json in /usr/include/nlohmann) are allowed too.
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE BOTH)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
# The static Qt is built with the same flag (see scripts/qt-mingw): with it no call site relies
# on which of two copies of a shared template the linker kept.
set(CMAKE_C_FLAGS_INIT "-fno-ipa-ra")
set(CMAKE_CXX_FLAGS_INIT "-fno-ipa-ra")

# The static Qt for Windows that scripts/qt-mingw builds: searched like the mingw root. Its
# host tools (moc, uic, rcc) are the build machine's Qt of the same version.
list(APPEND CMAKE_TRY_COMPILE_PLATFORM_VARIABLES LOVAR_QT_PREFIX)
if(LOVAR_QT_PREFIX)
  list(APPEND CMAKE_FIND_ROOT_PATH ${LOVAR_QT_PREFIX})
  list(APPEND CMAKE_PREFIX_PATH ${LOVAR_QT_PREFIX})
  set(QT_HOST_PATH /usr)
  set(QT_HOST_PATH_CMAKE_DIR /usr/lib/x86_64-linux-gnu/cmake)
endif()

# ctest runs the .exe test programs under Wine; the caller sets WINEPREFIX (scripts/wine-tests).
find_program(LOVAR_WINE NAMES wine wine64)
if(LOVAR_WINE)
  set(CMAKE_CROSSCOMPILING_EMULATOR ${LOVAR_WINE})
endif()

# CLI11 and nlohmann/json are header-only and live in the build machine's /usr/include, which
# must not go on the include path of a mingw build (its C headers would shadow mingw's). Each
# gets a folder that holds only a link to its own headers.
foreach(lib IN ITEMS "CLI11_INCLUDE_DIR;CLI;CLI.hpp" "NLOHMANN_JSON_INCLUDE_DIR;nlohmann;json.hpp")
  list(GET lib 0 var)
  list(GET lib 1 folder)
  list(GET lib 2 header)
  if(NOT ${var} AND EXISTS /usr/include/${folder}/${header} AND CMAKE_BINARY_DIR)
    set(link_dir ${CMAKE_BINARY_DIR}/${folder}-include)
    file(MAKE_DIRECTORY ${link_dir})
    if(NOT EXISTS ${link_dir}/${folder})
      file(CREATE_LINK /usr/include/${folder} ${link_dir}/${folder} SYMBOLIC)
    endif()
    set(${var} ${link_dir} CACHE PATH "${folder} headers, for the mingw build")
  endif()
endforeach()
