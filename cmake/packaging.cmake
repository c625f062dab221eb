# Installation layout beyond the program itself, and the Debian package.
#
#   cmake --install build --prefix /usr/local    program, man page, examples
#   cd build && cpack -G DEB                      quorbit_1.10.7_<arch>.deb

include(GNUInstallDirs)

# The manual page, compressed the way Debian installs manual pages.
set(QUORBIT_MAN_SOURCE ${CMAKE_SOURCE_DIR}/man/quorbit.1)
find_program(QUORBIT_GZIP gzip)
if(QUORBIT_GZIP)
  set(QUORBIT_MAN_PAGE ${CMAKE_BINARY_DIR}/man/quorbit.1.gz)
  add_custom_command(
    OUTPUT ${QUORBIT_MAN_PAGE}
    COMMAND ${CMAKE_COMMAND} -E make_directory ${CMAKE_BINARY_DIR}/man
    COMMAND ${QUORBIT_GZIP} -9 -n -c ${QUORBIT_MAN_SOURCE} > ${QUORBIT_MAN_PAGE}
    DEPENDS ${QUORBIT_MAN_SOURCE}
    COMMENT "Compressing the manual page"
    VERBATIM)
  add_custom_target(quorbit_man ALL DEPENDS ${QUORBIT_MAN_PAGE})
else()
  set(QUORBIT_MAN_PAGE ${QUORBIT_MAN_SOURCE})
endif()
install(FILES ${QUORBIT_MAN_PAGE} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)

# Example INI files, to copy and edit.
file(GLOB QUORBIT_EXAMPLE_INIS CONFIGURE_DEPENDS ${CMAKE_SOURCE_DIR}/examples/ini/*.ini)
install(FILES ${QUORBIT_EXAMPLE_INIS} DESTINATION ${CMAKE_INSTALL_DOCDIR}/examples)

# The Debian package.
set(CPACK_PACKAGE_NAME quorbit)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Quorbit developers")
set(CPACK_PACKAGE_CONTACT "Quorbit developers <quorbit-dev@example.org>")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "unattended batch transfer tool for HTTP and FTP")
set(CPACK_PACKAGE_DESCRIPTION
  "Quorbit reads a list of assignments from an INI file and carries them out\n\
without asking anything: HTTP assignments fetch a page and the pages and files\n\
it links to, down to a set depth, optionally rewriting the stored pages for\n\
offline reading; FTP assignments upload, download or synchronise files chosen\n\
by wildcard masks. Everything it does goes to a run log and to a small status\n\
window, or to the console when there is no display.")
set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
set(CPACK_STRIP_FILES ON)
set(CPACK_GENERATOR DEB)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "Quorbit developers <quorbit-dev@example.org>")
set(CPACK_DEBIAN_PACKAGE_SECTION net)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
# CPack reads the dependencies off the libraries the program links, with
# dpkg-shlibdeps, and needs file(1) to find the program; without the two the
# list is written out here.
find_program(QUORBIT_DPKG_SHLIBDEPS dpkg-shlibdeps)
find_program(QUORBIT_FILE_COMMAND file)
if(QUORBIT_DPKG_SHLIBDEPS AND QUORBIT_FILE_COMMAND)
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
elseif(QUORBIT_HAVE_FLTK)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1, libfltk1.3 (>= 1.3)")
else()
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "libc6 (>= 2.34), libstdc++6 (>= 12), libgcc-s1")
endif()
include(CPack)
