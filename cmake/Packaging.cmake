# What a user installs: on Linux the manual page and the Debian package
# (cpack -G DEB in a release build); on Windows the installer and the
# portable zip (cmake/WindowsPackages.cmake). Every version number here comes
# from project().
include(GNUInstallDirs)

if(WIN32)
  include(${CMAKE_CURRENT_LIST_DIR}/WindowsPackages.cmake)
  return()
endif()

set(MARKLODE_DOCDIR ${CMAKE_INSTALL_DATAROOTDIR}/doc/marklode)
set(marklode_docs ${CMAKE_BINARY_DIR}/docs)
file(MAKE_DIRECTORY ${marklode_docs})
find_program(MARKLODE_GZIP gzip)

# The manual page, from its scdoc source. gzip -n leaves out the name and
# time, so the same source always gives the same file.
find_program(MARKLODE_SCDOC scdoc)
if(MARKLODE_SCDOC AND MARKLODE_GZIP)
  set(marklode_man ${marklode_docs}/marklode.1)
  add_custom_command(OUTPUT ${marklode_man}.gz
    COMMAND sh -c "'${MARKLODE_SCDOC}' < '${PROJECT_SOURCE_DIR}/docs/marklode.1.scd' > '${marklode_man}'"
    COMMAND ${MARKLODE_GZIP} -9nf ${marklode_man}
    DEPENDS ${PROJECT_SOURCE_DIR}/docs/marklode.1.scd
    COMMENT "Writing the manual page marklode.1" VERBATIM)
  add_custom_target(marklode_manual ALL DEPENDS ${marklode_man}.gz)
  install(FILES ${marklode_man}.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The window program is described on the same page.
  if(MARKLODE_WINDOW)
    file(CREATE_LINK marklode.1.gz ${marklode_docs}/marklode-window.1.gz SYMBOLIC)
    install(FILES ${marklode_docs}/marklode-window.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  endif()
else()
  message(STATUS "scdoc or gzip not found: the manual page is not built "
    "(scripts/setup.sh installs scdoc)")
endif()

if(MARKLODE_TESTS)
  add_test(NAME Manual.names_every_profile_key_setting_and_option
    COMMAND bash ${PROJECT_SOURCE_DIR}/tests/manual_names.sh ${PROJECT_SOURCE_DIR})
endif()

# The user guide; Notes.rtf comes with the window's files when there is a
# window.
install(FILES ${MARKLODE_GUIDE_MD} DESTINATION ${MARKLODE_DOCDIR})
if(NOT MARKLODE_WINDOW)
  install(FILES ${MARKLODE_NOTES_RTF} DESTINATION ${MARKLODE_DOCDIR})
endif()

# --- The Debian package --------------------------------------------------

# Debian wants its copyright file and a changelog in the package's
# documentation folder; the changelog's date honours SOURCE_DATE_EPOCH. The
# changelog and lintian's notes belong to the package alone (the component
# debian), not to a cmake --install.
set(MARKLODE_DEB_RELEASE 1)
set(MARKLODE_DEB_VERSION ${PROJECT_VERSION}-${MARKLODE_DEB_RELEASE})
string(TIMESTAMP MARKLODE_DEB_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
configure_file(${PROJECT_SOURCE_DIR}/packaging/debian/changelog.in
  ${marklode_docs}/changelog.Debian @ONLY)
if(MARKLODE_GZIP)
  add_custom_command(OUTPUT ${marklode_docs}/changelog.Debian.gz
    COMMAND ${MARKLODE_GZIP} -9nkf ${marklode_docs}/changelog.Debian
    DEPENDS ${marklode_docs}/changelog.Debian VERBATIM)
  add_custom_target(marklode_changelog ALL DEPENDS ${marklode_docs}/changelog.Debian.gz)
  install(FILES ${marklode_docs}/changelog.Debian.gz DESTINATION ${MARKLODE_DOCDIR}
    COMPONENT debian EXCLUDE_FROM_ALL)
endif()
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/copyright DESTINATION ${MARKLODE_DOCDIR})
install(FILES ${PROJECT_SOURCE_DIR}/packaging/debian/lintian-overrides
  DESTINATION ${CMAKE_INSTALL_DATAROOTDIR}/lintian/overrides RENAME marklode
  COMPONENT debian EXCLUDE_FROM_ALL)

set(CPACK_PACKAGE_NAME marklode)
set(CPACK_PACKAGE_VENDOR "The Marklode developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "convert GPS waypoints between GPX and POI-CSV")
set(CPACK_PACKAGE_DESCRIPTION
  "Marklode converts GPS waypoints between GPX 1.1 files, with the Garmin GPX
Extensions v2 for categories and routes, and the POI-CSV lists that Garmin
navigators load as custom points of interest. It has a command line and a
small Qt window, templates for names and comments, filters, and saved
conversion profiles, and streams its input, so that large files convert at
close to the speed of reading them.")
set(CPACK_PACKAGE_CONTACT "The Marklode developers <marklode@example.org>")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "The Marklode developers <marklode@example.org>")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${MARKLODE_DEB_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION utils)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_SUGGESTS gpsbabel)
set(CPACK_DEBIAN_PACKAGE_CONTROL_STRICT_PERMISSION ON)
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_GENERATOR DEB)
# Everything a cmake --install puts in place, and the package's own files.
set(CPACK_INSTALL_CMAKE_PROJECTS
  "${CMAKE_BINARY_DIR};${PROJECT_NAME};ALL;/" "${CMAKE_BINARY_DIR};${PROJECT_NAME};debian;/")
# Folders in the package are 0755 whatever the umask of the one who builds it.
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
  OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
