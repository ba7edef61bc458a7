# What the two MinGW-w64 toolchains share (Debian's g++-mingw-w64-*-posix).
# The including file sets CMAKE_SYSTEM_PROCESSOR, the triple, and the Wine
# loader that runs its programs. Tests run under Wine, in a pseudo-terminal
# so that the programs get a console.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${triple}-gcc-posix)
set(CMAKE_CXX_COMPILER ${triple}-g++-posix)
set(CMAKE_RC_COMPILER ${triple}-windres)
set(CMAKE_OBJDUMP ${triple}-objdump CACHE FILEPATH "objdump for PE files")

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR env WINE=${wine_loader}
  ${CMAKE_CURRENT_LIST_DIR}/wine-run)
