# What `cmake --install` puts beside the program on Linux, and the Debian
# package built from it with `cpack -G DEB`.
if(WIN32 OR NOT TARNWICK_BUILD_GUI)
  return()
endif()

include(GNUInstallDirs)

# The desktop entry and its icon (the program's own 32x32 emblem).
install(FILES ${CMAKE_SOURCE_DIR}/packaging/tarnwick.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
install(FILES ${CMAKE_SOURCE_DIR}/assets/emblem.png
        DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/32x32/apps
        RENAME tarnwick.png)
# Examples for the administrator: an ODBC data source for a real SQL Server
# through FreeTDS, and the shape of the registry file with the stored
# parameters. The registry file itself is written by the program.
install(FILES ${CMAKE_SOURCE_DIR}/packaging/odbc.ini.example
              ${CMAKE_SOURCE_DIR}/packaging/HKLM.reg.example
              ${CMAKE_SOURCE_DIR}/README.md
        DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/tarnwick)

set(CPACK_PACKAGE_NAME "tarnwick")
set(CPACK_PACKAGE_VENDOR "Tarnwick")
set(CPACK_PACKAGE_CONTACT "Tarnwick maintainers <tarnwick@localhost>")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "removes the OPAC tables and triggers from a library's SQL Server database")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarnwick removes the OPAC (online catalogue) tables and triggers from a\n\
library-management database on Microsoft SQL Server with one button. It\n\
reaches the server through an ODBC data source (unixODBC with the FreeTDS\n\
driver) and keeps its connection parameters in the registry file\n\
${TARNWICK_HKLM_FILE}.")
set(CPACK_GENERATOR "DEB")
set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
set(CPACK_STRIP_FILES ON)
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "database")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
# The libraries the program links (Qt 6 Widgets, libodbc) come from
# dpkg-shlibdeps; what it opens at run time is named here: the ODBC driver
# manager's configuration tools, the FreeTDS ODBC driver and the Song typeface
# for the Chinese texts.
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_PACKAGE_DEPENDS "unixodbc, tdsodbc, fonts-arphic-uming")
# Only the program and the files above: the stand-in and the test tools have no
# install rules, and the tests are not installed.
include(CPack)
