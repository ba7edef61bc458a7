# What the two MinGW-w64 toolchains share. The including file sets
# CMAKE_SYSTEM_PROCESSOR, the triple, and the Wine loader that runs its
# programs. Tests run under Wine, in a pseudo-terminal so that the
# programs get a console.
#
# The compilers by the names distributions give them: Debian's with POSIX
# threads (-posix) first, then the plain triple's (Fedora, Arch, MSYS2's
# cross packages). Set CMAKE_CXX_COMPILER to use another.
set(CMAKE_SYSTEM_NAME Windows)

find_program(mingw_cxx NAMES ${triple}-g++-posix ${triple}-g++ REQUIRED)
find_program(mingw_cc NAMES ${triple}-gcc-posix ${triple}-gcc)
set(CMAKE_CXX_COMPILER ${mingw_cxx})
if(mingw_cc)
  set(CMAKE_C_COMPILER ${mingw_cc})
endif()
find_program(CMAKE_RC_COMPILER NAMES ${triple}-windres windres)
find_program(CMAKE_OBJDUMP NAMES ${triple}-objdump objdump)

set(CMAKE_FIND_ROOT_PATH /usr/${triple})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_CROSSCOMPILING_EMULATOR env WINE=${wine_loader}
  ${CMAKE_CURRENT_LIST_DIR}/wine-run)
