# Cross-builds msgpoll for 64-bit Windows with clang-cl, through the MSVC
# branch (cmake/clang-cl.cmake).
set(CMAKE_SYSTEM_PROCESSOR AMD64)
set(triple x86_64-pc-windows-msvc)
set(wine_libs /usr/lib/x86_64-linux-gnu/wine/x86_64-windows)
set(wine_loader /usr/lib/wine/wine64)
set(mingw_toolchain mingw-w64-x86_64.cmake)
set(wine_builtins _InterlockedCompareExchange128)
include(${CMAKE_CURRENT_LIST_DIR}/clang-cl.cmake)
