# What the two clang-cl toolchains share: msgpoll cross-built for Windows
# with an MSVC-compatible toolchain, clang-cl (MSVC's command line,
# dialect and ABI), lld-link, llvm-rc, llvm-mt and llvm-lib. CMake takes
# clang-cl for an MSVC-like compiler, so CMakeLists.txt's MSVC branch is
# the one in force. The including file sets CMAKE_SYSTEM_PROCESSOR, the
# triple, the folder of Wine's import libraries, the Wine loader that runs
# the programs, the MinGW-w64 toolchain that builds the tests, the
# builtins that Wine's headers define, and any linker flags of its own.
#
# Microsoft's SDK and C runtime are not to be had here; Wine's stand in:
# its Windows and C runtime headers, its import libraries, and its
# universal C runtime, ucrtbase.dll, which the program and the library
# load. The C++ headers are LLVM's libc++; msgpoll needs no C++ runtime
# library, and none is linked. What an MSVC C runtime library would add,
# the entry points that start the program and the library, comes from
# cmake/wine-crt-startup/, linked into this build alone. The paths are
# those of Debian's packages (scripts/install-deps test).
#
# /Brepro holds: built again in its folder, the build gives the same bytes.
# In another folder it does not: lld-link names a program's debug
# information by a hash of it, and that holds the build's folders.
set(CMAKE_SYSTEM_NAME Windows)

find_program(CMAKE_CXX_COMPILER NAMES clang-cl clang-cl-14 REQUIRED)
find_program(CMAKE_LINKER NAMES lld-link lld-link-14 REQUIRED)
find_program(CMAKE_RC_COMPILER NAMES llvm-rc llvm-rc-14 REQUIRED)
find_program(CMAKE_MT NAMES llvm-mt llvm-mt-14 REQUIRED)
find_program(CMAKE_AR NAMES llvm-lib llvm-lib-14 REQUIRED)
set(CMAKE_CXX_COMPILER_TARGET ${triple})

# Wine's headers: WCHAR is wchar_t, as in Microsoft's, and the functions
# that they define under the names of clang's builtins (the including
# file lists them) are renamed out of the builtins' way. libc++'s headers
# ask for no library of their own, which this toolchain lacks. No stack
# cookie checks (/GS-): their code is the MSVC C runtime library's.
set(wine_headers /usr/include/wine/wine)
set(CMAKE_CXX_FLAGS_INIT "/imsvc /usr/lib/llvm-14/include/c++/v1 \
/imsvc ${wine_headers}/msvcrt /imsvc ${wine_headers}/windows \
-DWINE_UNICODE_NATIVE -D_LIBCPP_NO_AUTO_LINK /GS-")
foreach(builtin ${wine_builtins})
  string(APPEND CMAKE_CXX_FLAGS_INIT " -D${builtin}=wine${builtin}")
endforeach()
set(CMAKE_RC_FLAGS_INIT "/I ${wine_headers}/windows")

# The C runtime is a DLL here, whatever the project would choose.
set(CMAKE_MSVC_RUNTIME_LIBRARY MultiThreadedDLL)

# lld-link finds a library by its Microsoft name, kernel32.lib; Wine's are
# named libkernel32.a. A folder of links gives them those names. Only the
# libraries named here are linked, none that an object asks for itself;
# the C runtime's come first, before those of ntdll.lib, which exports
# some C functions too. ntdll.lib also has what 32-bit code calls for
# 64-bit division and shifts (_aulldiv and so on), which MSVC's C runtime
# library would bring.
set(import_libs ${CMAKE_BINARY_DIR}/import-libs)
file(MAKE_DIRECTORY ${import_libs})
foreach(lib kernel32 ntdll ucrtbase)
  file(CREATE_LINK ${wine_libs}/lib${lib}.a ${import_libs}/${lib}.lib SYMBOLIC)
endforeach()
set(CMAKE_CXX_STANDARD_LIBRARIES "")
foreach(kind EXE SHARED MODULE)
  set(CMAKE_${kind}_LINKER_FLAGS_INIT
    "/LIBPATH:${import_libs} /NODEFAULTLIB ucrtbase.lib kernel32.lib ntdll.lib ${wine_link_flags}")
endforeach()

# CMake's checks of the compiler link no program: none starts without the
# entry points below.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(MSGPOLL_ENTRY_POINTS ${CMAKE_CURRENT_LIST_DIR}/wine-crt-startup)

# GoogleTest needs a C++ runtime library, which this toolchain lacks: the
# test programs are MinGW-w64's, run against this build's program and
# library (tests/other-toolchain.cmake). So is the objdump that reads the
# program's imports for a test.
set(MSGPOLL_TEST_TOOLCHAIN ${CMAKE_CURRENT_LIST_DIR}/${mingw_toolchain})
find_program(CMAKE_OBJDUMP NAMES x86_64-w64-mingw32-objdump)

set(CMAKE_CROSSCOMPILING_EMULATOR env WINE=${wine_loader}
  ${CMAKE_CURRENT_LIST_DIR}/wine-run)
