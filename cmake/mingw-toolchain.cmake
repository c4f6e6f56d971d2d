# Cross-compile genuine Windows binaries with mingw-w64 (posix threads).
# QOR_TARGET_ARCH selects the Windows architecture: i686 (32-bit, the product's
# native target) or x86_64. The default follows what this machine can run under
# Wine; see scripts/detect-arch.sh.
if(NOT QOR_TARGET_ARCH)
  if(DEFINED ENV{QOR_TARGET_ARCH})
    set(QOR_TARGET_ARCH $ENV{QOR_TARGET_ARCH})
  else()
    execute_process(COMMAND ${CMAKE_CURRENT_LIST_DIR}/../scripts/detect-arch.sh
                    OUTPUT_VARIABLE QOR_TARGET_ARCH OUTPUT_STRIP_TRAILING_WHITESPACE)
  endif()
endif()
set(QOR_TARGET_ARCH ${QOR_TARGET_ARCH} CACHE STRING "i686 or x86_64" FORCE)

set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_SYSTEM_PROCESSOR ${QOR_TARGET_ARCH})
set(_triple ${QOR_TARGET_ARCH}-w64-mingw32)
set(CMAKE_C_COMPILER   ${_triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${_triple}-g++-posix)
set(CMAKE_RC_COMPILER  ${_triple}-windres)
set(QOR_WINDMC ${_triple}-windmc)
set(QOR_WIDL   ${_triple}-widl)
set(CMAKE_FIND_ROOT_PATH /usr/${_triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR ${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh)
