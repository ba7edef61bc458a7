# Cross-builds msgpoll for 32-bit Windows with MinGW-w64. Its programs run
# under 32-bit Wine (Debian's wine32:i386).
set(CMAKE_SYSTEM_PROCESSOR x86)
set(triple i686-w64-mingw32)
set(wine_loader /usr/lib/wine/wine)
include(${CMAKE_CURRENT_LIST_DIR}/mingw-w64.cmake)
