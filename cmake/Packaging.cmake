# What the Debian package adds to the program's own install rules (src/app), and
# the package itself: CPack's DEB generator, run by scripts/package on a Release build
# configured with the prefix /usr.
if(NOT TARGET ostrelo)
  return()
endif()

set(OSTRELO_MAINTAINER "Ostrelo developers <ostrelo@example.org>")

# USB3 Vision cameras usable by the user at the seat. Relative to the prefix: /usr/lib
# is where udev reads rules on a merged /usr, and a ~/.local install stays harmless.
install(FILES ${PROJECT_SOURCE_DIR}/resources/70-ostrelo-usb3vision.rules DESTINATION lib/udev/rules.d)

# The manual page, and the copyright file and changelog Debian expects of a package.
# Compressed without name and time stamp in the header, as Debian wants; the
# changelog's date follows SOURCE_DATE_EPOCH when it is set (scripts/package sets the
# last commit's).
set(doc_dir ${CMAKE_INSTALL_DATADIR}/doc/ostrelo)
install(FILES ${PROJECT_SOURCE_DIR}/resources/debian/copyright DESTINATION ${doc_dir})
find_program(OSTRELO_GZIP gzip)
if(OSTRELO_GZIP)
  string(TIMESTAMP OSTRELO_CHANGELOG_DATE "%a, %d %b %Y %H:%M:%S +0000" UTC)
  configure_file(${PROJECT_SOURCE_DIR}/resources/debian/changelog.in ${CMAKE_CURRENT_BINARY_DIR}/changelog @ONLY)
  configure_file(${PROJECT_SOURCE_DIR}/resources/ostrelo.1 ${CMAKE_CURRENT_BINARY_DIR}/ostrelo.1 COPYONLY)
  foreach(file changelog ostrelo.1)
    execute_process(COMMAND ${OSTRELO_GZIP} -9nf ${CMAKE_CURRENT_BINARY_DIR}/${file} COMMAND_ERROR_IS_FATAL ANY)
  endforeach()
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/changelog.gz DESTINATION ${doc_dir})
  install(FILES ${CMAKE_CURRENT_BINARY_DIR}/ostrelo.1.gz DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

set(CPACK_GENERATOR DEB)
# Install into the staging folder through DESTDIR, so that install-time code sees the
# package's own prefix (/usr): the systemd unit's ExecStart and folder follow it.
set(CPACK_SET_DESTDIR ON)
set(CPACK_PACKAGE_NAME ostrelo)
set(CPACK_PACKAGE_VENDOR "Ostrelo developers")
set(CPACK_PACKAGE_CONTACT "${OSTRELO_MAINTAINER}")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "test documentation with camera pictures and voltages")
set(CPACK_PACKAGE_DESCRIPTION
    "Ostrelo documents a laboratory test with pictures and voltages. An operator
watches a live 8-bit grey picture of a GenICam camera (USB3 Vision or GigE
Vision, through Aravis), picks an area of interest and takes one shot or an
unattended series of shots. Each shot saves the area as an 8-bit grey BMP
file and appends a line with its time stamp and four analog voltages from an
NI-DAQmx card to a tab-separated record.

The package gives the user logged in at the seat access to USB3 Vision
cameras. The NI-DAQmx driver, when used, comes from National Instruments.")
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION science)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# The libraries the program links, as dpkg-shlibdeps finds them, the Arial-metric font
# the window's layout is measured in, and libcurl, which the notifications open at run
# time (dpkg-shlibdeps cannot see it).
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "fonts-liberation, libcurl4")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
include(CPack)
