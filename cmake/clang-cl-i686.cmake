# Cross-builds msgpoll for 32-bit Windows with clang-cl, through the MSVC
# branch (cmake/clang-cl.cmake). Wine's 32-bit import libraries come from
# Debian's libwine-dev:i386; the programs run under 32-bit Wine.
set(CMAKE_SYSTEM_PROCESSOR X86)
set(triple i686-pc-windows-msvc)
set(wine_libs /usr/lib/i386-linux-gnu/wine/i386-windows)
set(wine_loader /usr/lib/wine/wine)
set(mingw_toolchain mingw-w64-i686.cmake)
set(wine_builtins _InterlockedAnd64 _InterlockedCompareExchangePointer
  _InterlockedDecrement64 _InterlockedExchangeAdd64 _InterlockedExchangePointer
  _InterlockedIncrement64 _InterlockedOr64 _InterlockedXor64)
# The import libraries' call stubs carry no table of safe exception
# handlers, so the program and the library can have none either.
set(wine_link_flags /SAFESEH:NO)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cl.cmake)
