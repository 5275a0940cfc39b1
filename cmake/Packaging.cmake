# Installation and packages, made with CPack by the `package` target:
#   Linux:   vekton_<version>_amd64.deb: vekton, vekton-sim, vekton-report,
#            vekton-trace and vekton-archive in /usr/bin, their man pages (section 1), the
#            manual, the README, the copyright and the changelog under
#            /usr/share/doc/vekton; the Wireshark dissector for the host
#            link under /usr/share/vekton/wireshark;
#            its dependencies found by dpkg-shlibdeps.
#   Windows: vekton-<version>-win64.zip from the cross build: vekton.exe,
#            vekton-report.exe, vekton-trace.exe (the version in their file
#            properties too),
#            the manual, a read-me on COM ports and the Wireshark dissector.
# The version is project()'s; the Debian changelog's newest entry must name
# it, and its date is the release date the man pages show.
include(GNUInstallDirs)

# --- the release: version and date ---------------------------------------------
set(VEKTON_CHANGELOG ${CMAKE_SOURCE_DIR}/docs/debian/changelog)
file(STRINGS ${VEKTON_CHANGELOG} _vekton_changelog)
list(GET _vekton_changelog 0 _vekton_top)
if(NOT _vekton_top MATCHES "^vekton \\(([^)]+)\\)")
  message(FATAL_ERROR "${VEKTON_CHANGELOG}: the first line is not an entry: ${_vekton_top}")
endif()
if(NOT CMAKE_MATCH_1 STREQUAL PROJECT_VERSION)
  message(FATAL_ERROR "${VEKTON_CHANGELOG}: the newest entry is for ${CMAKE_MATCH_1}, the build is "
                      "${PROJECT_VERSION}: add an entry for ${PROJECT_VERSION}")
endif()
# The newest entry's sign-off, e.g. " -- Name <mail>  Tue, 08 Dec 2026 12:00:00 +0000".
set(VEKTON_RELEASE_DATE "")
foreach(line IN LISTS _vekton_changelog)
  if(line MATCHES "^ -- .*  [A-Z][a-z][a-z], ([0-9][0-9]?) ([A-Z][a-z][a-z]) ([0-9][0-9][0-9][0-9]) ")
    set(_day ${CMAKE_MATCH_1})
    set(_year ${CMAKE_MATCH_3})
    set(_months Jan Feb Mar Apr May Jun Jul Aug Sep Oct Nov Dec)
    list(FIND _months ${CMAKE_MATCH_2} _month)
    math(EXPR _month "${_month} + 1")
    # Two digits each, as in 2026-03-08.
    string(REGEX REPLACE "^([0-9])$" "0\\1" _month ${_month})
    string(REGEX REPLACE "^([0-9])$" "0\\1" _day ${_day})
    set(VEKTON_RELEASE_DATE ${_year}-${_month}-${_day})
    break()
  endif()
endforeach()
if(NOT VEKTON_RELEASE_DATE)
  message(FATAL_ERROR "${VEKTON_CHANGELOG}: the newest entry has no sign-off line with a date")
endif()

# The technician's manual goes into both packages; there is none without it.
set(VEKTON_MANUAL ${CMAKE_SOURCE_DIR}/docs/MANUAL.md)
if(NOT EXISTS ${VEKTON_MANUAL})
  message(FATAL_ERROR "docs/MANUAL.md is missing: the packages carry the technician's manual")
endif()
# Its pictures go beside it, so that its links to images/ work where it is
# installed too.
file(GLOB VEKTON_MANUAL_IMAGES CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/docs/images/*.png)

set(CPACK_PACKAGE_NAME vekton)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Vekton")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "service and test console for the Vekton microplate store")
# The extended description as the control file shows it: lines under 80
# columns, a blank line between paragraphs.
string(CONCAT CPACK_PACKAGE_DESCRIPTION
  "The technician's text-mode console for the Vekton automated microplate\n"
  "store, wired to the store's KV-PLC by one serial port (a serial device, or\n"
  "a raw TCP or RFC 2217 connection): direct commands, flag monitor, macros,\n"
  "teaching, component tests, the all-slots, random-access and three-plate\n"
  "tests, and the service statistics.\n"
  "\n"
  "With it come vekton-sim, a simulated store on a pseudo-terminal for\n"
  "training and tests, vekton-report, which makes report pages and CSV\n"
  "tables from the random-access test's result files, and vekton-trace,\n"
  "which reads back the console's traces of its serial line.")
set(VEKTON_PACKAGE_MAINTAINER "Vekton service team <service@vekton.example>"
    CACHE STRING "Maintainer field of the Debian package")
set(CPACK_PACKAGE_CONTACT ${VEKTON_PACKAGE_MAINTAINER})
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)

# The programs a package carries (vekton-sim is built on POSIX only).
set(VEKTON_PROGRAMS "")
foreach(program vekton vekton-sim vekton-report vekton-trace)
  if(TARGET ${program})
    list(APPEND VEKTON_PROGRAMS ${program})
  endif()
endforeach()

if(WIN32)
  # --- the version in the programs' file properties ------------------------------
  enable_language(RC)
  set(_descriptions "vekton=Vekton service console" "vekton-report=Vekton result file report"
                    "vekton-trace=Vekton serial line trace reader")
  foreach(entry IN LISTS _descriptions)
    string(REPLACE "=" ";" entry "${entry}")
    list(GET entry 0 VEKTON_RC_NAME)
    list(GET entry 1 VEKTON_RC_DESCRIPTION)
    if(TARGET ${VEKTON_RC_NAME})
      configure_file(${CMAKE_SOURCE_DIR}/cmake/version.rc.in ${CMAKE_BINARY_DIR}/${VEKTON_RC_NAME}-version.rc @ONLY)
      target_sources(${VEKTON_RC_NAME} PRIVATE ${CMAKE_BINARY_DIR}/${VEKTON_RC_NAME}-version.rc)
    endif()
  endforeach()

  # --- the Windows archive: everything at the top of one folder ----------------
  install(TARGETS ${VEKTON_PROGRAMS} RUNTIME DESTINATION .)
  install(FILES ${VEKTON_MANUAL} DESTINATION .)
  install(FILES ${VEKTON_MANUAL_IMAGES} DESTINATION images)
  install(FILES ${CMAKE_SOURCE_DIR}/docs/README-windows.txt DESTINATION . RENAME README.txt)
  install(FILES ${CMAKE_SOURCE_DIR}/trace/vekton-hostlink.lua DESTINATION .)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_SYSTEM_NAME win64)
  set(CPACK_PACKAGE_FILE_NAME vekton-${PROJECT_VERSION}-win64)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  # --- man pages: the version and date put in, compressed as Debian wants -------
  # The archive needs SQLite, which only the Linux build has.
  if(TARGET vekton-archive)
    list(APPEND VEKTON_PROGRAMS vekton-archive)
  endif()
  set(VEKTON_MAN_PAGES vekton vekton-sim vekton-report vekton-trace vekton-archive)
  set(_man_gz "")
  foreach(page IN LISTS VEKTON_MAN_PAGES)
    configure_file(${CMAKE_SOURCE_DIR}/docs/man/${page}.1.in ${CMAKE_BINARY_DIR}/man/${page}.1 @ONLY)
    add_custom_command(
      OUTPUT ${CMAKE_BINARY_DIR}/man/${page}.1.gz
      COMMAND gzip -9 -n -c ${page}.1 > ${page}.1.gz
      DEPENDS ${CMAKE_BINARY_DIR}/man/${page}.1
      WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
      VERBATIM)
    list(APPEND _man_gz ${CMAKE_BINARY_DIR}/man/${page}.1.gz)
  endforeach()
  add_custom_command(
    OUTPUT ${CMAKE_BINARY_DIR}/man/changelog.gz
    COMMAND gzip -9 -n -c ${VEKTON_CHANGELOG} > changelog.gz
    DEPENDS ${VEKTON_CHANGELOG}
    WORKING_DIRECTORY ${CMAKE_BINARY_DIR}/man
    VERBATIM)
  add_custom_target(vekton_docs ALL DEPENDS ${_man_gz} ${CMAKE_BINARY_DIR}/man/changelog.gz)

  # --- the Debian package ---------------------------------------------------------
  install(TARGETS ${VEKTON_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(FILES ${_man_gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  install(FILES ${CMAKE_SOURCE_DIR}/README.md ${VEKTON_MANUAL} ${CMAKE_SOURCE_DIR}/docs/debian/copyright
                ${CMAKE_BINARY_DIR}/man/changelog.gz
          DESTINATION ${CMAKE_INSTALL_DOCDIR})
  install(FILES ${VEKTON_MANUAL_IMAGES} DESTINATION ${CMAKE_INSTALL_DOCDIR}/images)
  install(FILES ${CMAKE_SOURCE_DIR}/trace/vekton-hostlink.lua DESTINATION ${CMAKE_INSTALL_DATADIR}/vekton/wireshark)
  set(CPACK_GENERATOR DEB)
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION utils)
  set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "ser2net")
endif()

include(CPack)
