# Install rules and packages.
#
# cmake --install: msgpoll in bin/ and its man page in share/man/man1. The
# stand-in library goes where only the installed tool finds it: on Linux a
# private folder, lib/msgpoll/simulated-device, named by the tool's RUNPATH,
# so it never takes the system-wide name of a real driver library, and
# LD_LIBRARY_PATH still picks a real one over it (a folder below
# lib/msgpoll also tells the .deb that ldconfig has nothing to do there);
# on Windows bin/, beside the exe.
#
# Packages: a .deb and an RPM on Linux, with the licence and a changelog
# in share/doc/msgpoll; a .zip per architecture on Windows, holding
# msgpoll.exe at its root and the stand-in in a folder of its own, so that
# unpacking it next to the real driver library never replaces that library.
# A source tarball of the tree, without builds or packages.

install(TARGETS msgpoll RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
if(NOT WIN32 AND NOT APPLE)
  # Installed, msgpoll finds the stand-in in its private folder alone.
  install(CODE "file(RPATH_CHANGE
    FILE \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}/${CMAKE_INSTALL_BINDIR}/msgpoll\"
    OLD_RPATH \"${msgpoll_runpath}:\$ORIGIN\" NEW_RPATH \"${msgpoll_runpath}\")")
endif()
if(WIN32)
  install(TARGETS HARLEN_620 RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
else()
  install(TARGETS HARLEN_620 LIBRARY DESTINATION ${msgpoll_private_libdir})
endif()

# Compressed as Debian and Fedora want them, without a time stamp.
function(install_gzipped source destination)
  get_filename_component(name ${source} NAME)
  set(gzipped ${CMAKE_BINARY_DIR}/${name}.gz)
  add_custom_command(OUTPUT ${gzipped}
    COMMAND ${GZIP} -9nc ${source} > ${gzipped}
    DEPENDS ${source} VERBATIM)
  add_custom_target(gzip_${name} ALL DEPENDS ${gzipped})
  install(FILES ${gzipped} DESTINATION ${destination})
endfunction()

find_program(GZIP gzip)
if(GZIP AND NOT WIN32)
  install_gzipped(${PROJECT_SOURCE_DIR}/tool/msgpoll.1 ${CMAKE_INSTALL_MANDIR}/man1)
  install_gzipped(${PROJECT_SOURCE_DIR}/cmake/changelog ${CMAKE_INSTALL_DOCDIR})
else()
  install(FILES ${PROJECT_SOURCE_DIR}/tool/msgpoll.1
    DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

if(NOT WIN32)
  # The licence in Debian's machine-readable copyright format.
  file(READ ${PROJECT_SOURCE_DIR}/LICENSE licence)
  string(REGEX REPLACE "^.*\nPermission" "Permission" licence "${licence}")
  string(REGEX REPLACE "\n$" "" licence "${licence}")
  string(REGEX REPLACE "\n\n" "\n.\n" licence "${licence}")
  string(REPLACE "\n" "\n " licence "${licence}")
  file(WRITE ${CMAKE_BINARY_DIR}/copyright
"Format: https://www.debian.org/doc/packaging-manuals/copyright-format/1.0/
Upstream-Name: msgpoll
Upstream-Contact: ${msgpoll_contact}

Files: *
Copyright: 2026 The msgpoll developers
License: Expat

License: Expat
 ${licence}
")
  install(FILES ${CMAKE_BINARY_DIR}/copyright DESTINATION ${CMAKE_INSTALL_DOCDIR})
endif()

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
  # The texts with Windows line ends, under names of msgpoll's own, so that
  # unpacking into a driver's folder replaces none of the driver's files.
  configure_file(cmake/zip-readme.txt.in zip/msgpoll-README.txt @ONLY
    NEWLINE_STYLE CRLF)
  configure_file(LICENSE zip/msgpoll-LICENSE.txt COPYONLY)
  file(READ ${CMAKE_CURRENT_BINARY_DIR}/zip/msgpoll-LICENSE.txt licence)
  string(REPLACE "\n" "\r\n" licence "${licence}")
  file(WRITE ${CMAKE_CURRENT_BINARY_DIR}/zip/msgpoll-LICENSE.txt "${licence}")
  install(TARGETS msgpoll RUNTIME DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
  install(TARGETS HARLEN_620 RUNTIME DESTINATION simulated-device
    COMPONENT zip EXCLUDE_FROM_ALL)
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/zip/msgpoll-README.txt
    ${CMAKE_CURRENT_BINARY_DIR}/zip/msgpoll-LICENSE.txt
    DESTINATION . COMPONENT zip EXCLUDE_FROM_ALL)
endif()

set(CPACK_PACKAGE_NAME msgpoll)
set(CPACK_PACKAGE_VENDOR "msgpoll developers")
set(CPACK_PACKAGE_CONTACT ${msgpoll_contact})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
  "Print the Harlen device driver's trace messages until 'q'")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_RESOURCE_FILE_LICENSE ${PROJECT_SOURCE_DIR}/LICENSE)
set(CPACK_STRIP_FILES ON)

# Reproducible packages: every file gets the time of the last commit
# (SOURCE_DATE_EPOCH, which scripts/package sets) before it is packed.
set(CPACK_PRE_BUILD_SCRIPTS ${PROJECT_SOURCE_DIR}/cmake/fixed-times.cmake)
if(WIN32)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME windows-${zip_arch})
  set(CPACK_ARCHIVE_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL zip)
  set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY OFF)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGE_DESCRIPTION "msgpoll reads the trace messages of the \
Harlen device driver
through the driver's user-mode library, HARLEN_620, and prints them one
line each until 'q'. This package holds a simulated HARLEN_620 library,
private to msgpoll, in place of the real one.")

  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  set(CPACK_RPM_FILE_NAME RPM-DEFAULT)
  set(CPACK_RPM_PACKAGE_LICENSE MIT)
  set(CPACK_RPM_PACKAGE_GROUP "Applications/System")
  set(CPACK_RPM_PACKAGE_URL "https://msgpoll.invalid/")
  set(CPACK_RPM_CHANGELOG_FILE ${PROJECT_SOURCE_DIR}/cmake/rpm-changelog)
  set(CPACK_RPM_PACKAGE_DESCRIPTION ${CPACK_PACKAGE_DESCRIPTION})
  set(CPACK_RPM_SPEC_MORE_DEFINE "%define packager ${msgpoll_contact}
%define use_source_date_epoch_as_buildtime 1
%define clamp_mtime_to_source_date_epoch 1
%define _buildhost reproducible
%define _build_id_links none")
  set(CPACK_RPM_EXCLUDE_FROM_AUTO_FILELIST_ADDITION
    /usr/share/man /usr/share/man/man1)
endif()

set(CPACK_SOURCE_GENERATOR TGZ)
set(CPACK_SOURCE_PACKAGE_FILE_NAME msgpoll-${PROJECT_VERSION})
set(CPACK_SOURCE_IGNORE_FILES "/\\\\.git/" "/\\\\.git$" "/build/" "/build-[^/]*/"
  "/wineprefix/" "/dist/" "\\\\.deb$" "\\\\.rpm$" "\\\\.zip$" "\\\\.tar\\\\.gz$")
include(CPack)
