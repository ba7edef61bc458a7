# Install rules and packages.
#
# cmake --install: msgpoll in bin/; the stand-in library where the installed
# tool finds it (Linux: lib/, through the tool's $ORIGIN/../lib RPATH;
# Windows: bin/, beside the exe); the man page in share/man/man1.
#
# Packages: a .deb on Linux; a .zip on Windows holding msgpoll.exe at its
# root and the stand-in in a folder of its own, so that unpacking it next to
# the real driver library never replaces that library.

install(TARGETS msgpoll RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
install(TARGETS HARLEN_620
  LIBRARY DESTINATION ${CMAKE_INSTALL_LIBDIR}
  RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

find_program(GZIP gzip)
if(GZIP AND NOT WIN32)
  set(man_page ${CMAKE_BINARY_DIR}/msgpoll.1.gz)
  add_custom_command(OUTPUT ${man_page}
    COMMAND ${GZIP} -9nc ${PROJECT_SOURCE_DIR}/tool/msgpoll.1 > ${man_page}
    DEPENDS tool/msgpoll.1 VERBATIM)
  add_custom_target(man_page ALL DEPENDS ${man_page})
else()
  set(man_page ${PROJECT_SOURCE_DIR}/tool/msgpoll.1)
endif()
install(FILES ${man_page} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

if(WIN32)
  # One zip per architecture; a 32-bit one says which calling convention.
  if(CMAKE_SIZEOF_VOID_P EQUAL 4)
    set(zip_arch x86)
    set(zip_convention "with cdecl")
    if(HARLEN_620_STDCALL)
      set(zip_arch x86-stdcall)
      set(zip_convention "with stdcall")
    endif()
  else()
    set(zip_arch x64)
    set(zip_convention "the one way 64-bit Windows has")
  endif()
  string(REGEX REPLACE "." "=" zip_rule "${zip_arch}")
  configure_file(cmake/zip-readme.txt.in README.txt @ONLY)
  install(TARGETS msgpoll RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(TARGETS HARLEN_620 RUNTIME DESTINATION simulated-device
    COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/README.txt
    DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${PROJECT_SOURCE_DIR}/LICENSE
    DESTINATION . RENAME LICENSE.txt COMPONENT zip EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME msgpoll)
set(CPACK_PACKAGE_VENDOR "msgpoll developers")
set(CPACK_PACKAGE_CONTACT "msgpoll developers <dev@msgpoll.invalid>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "prints the Harlen device driver's trace messages until 'q'")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_STRIP_FILES ON)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${zip_arch})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL zip)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
  set(CPACK_PACKAGE_DESCRIPTION "msgpoll reads the trace messages of the \
Harlen device driver through the driver's user-mode library, HARLEN_620, \
and prints them one line each until 'q'. This package holds a simulated \
HARLEN_620 library in place of the real one.")
endif()
include(CPack)
