# Install rules and the Debian package of kordb and kordb-cli. Included at the end of the root
# CMakeLists.txt, once both programs are defined. scripts/package builds the package and
# scripts/check_package checks it.

# The package, its shell scripts and the demo maker are for Debian-like systems.
if(NOT UNIX OR APPLE)
  return()
endif()

include(GNUInstallDirs)

set(KORDB_PACKAGE_MAINTAINER "Korvin Database Migration Tools maintainers <kordb@example.org>"
    CACHE STRING "Maintainer field of the Debian package and its changelog")
set(KORDB_PACKAGE_RELEASE 1 CACHE STRING "Debian revision of the package")

set(_kordb_pkg_src ${CMAKE_SOURCE_DIR}/packaging)
set(_kordb_pkg_out ${CMAKE_BINARY_DIR}/packaging)
file(MAKE_DIRECTORY ${_kordb_pkg_out})

# Where the build puts the programs: the file dialog starts there.
get_target_property(_kordb_bin kordb RUNTIME_OUTPUT_DIRECTORY)
if(NOT _kordb_bin)
  set(_kordb_bin ${CMAKE_BINARY_DIR})
endif()

# --- Generated files ------------------------------------------------------------------------

# The demo gets a folder of its own: scripts/run migrates into build/demo, and the package has
# to carry an empty destination.
set(_kordb_demo ${_kordb_pkg_out}/demo)
set(_kordb_demo_books ${_kordb_demo}/kordb_demo.xls ${_kordb_demo}/kordb_demo_faults.xls)
add_custom_command(
  OUTPUT ${_kordb_demo}/kordb_demo.db ${_kordb_demo_books}
  COMMAND ${CMAKE_SOURCE_DIR}/demo/make_demo.sh ${_kordb_demo}
  DEPENDS ${CMAKE_SOURCE_DIR}/demo/make_demo.sh ${CMAKE_SOURCE_DIR}/demo/make_demo.py
          ${CMAKE_SOURCE_DIR}/demo/destination.sql
  COMMENT "Making the demo workbooks and the demo destination"
  VERBATIM)

# A new user's first "..." opens beside the programs: the demo workbooks wait there.
set(_kordb_bin_books ${_kordb_bin}/kordb_demo.xls ${_kordb_bin}/kordb_demo_faults.xls)
add_custom_command(
  OUTPUT ${_kordb_bin_books}
  COMMAND ${CMAKE_COMMAND} -E make_directory ${_kordb_bin}
  COMMAND ${CMAKE_COMMAND} -E copy ${_kordb_demo_books} ${_kordb_bin}
  DEPENDS ${_kordb_demo_books}
  COMMENT "Putting the demo workbooks beside the programs"
  VERBATIM)

# Debian wants manual pages and changelogs compressed, without a time stamp (gzip -n).
set(_kordb_manpages)
foreach(_page kordb kordb-cli kordb-demo)
  add_custom_command(
    OUTPUT ${_kordb_pkg_out}/${_page}.1.gz
    COMMAND ${CMAKE_COMMAND} -E copy ${_kordb_pkg_src}/${_page}.1 ${_kordb_pkg_out}/${_page}.1
    COMMAND gzip -9nf ${_kordb_pkg_out}/${_page}.1
    DEPENDS ${_kordb_pkg_src}/${_page}.1
    VERBATIM)
  list(APPEND _kordb_manpages ${_kordb_pkg_out}/${_page}.1.gz)
endforeach()

configure_file(${_kordb_pkg_src}/changelog.in ${_kordb_pkg_out}/changelog.Debian @ONLY)
add_custom_command(
  OUTPUT ${_kordb_pkg_out}/changelog.Debian.gz
  COMMAND gzip -9nkf ${_kordb_pkg_out}/changelog.Debian
  DEPENDS ${_kordb_pkg_out}/changelog.Debian
  VERBATIM)

set(_kordb_deb_version ${PROJECT_VERSION}-${KORDB_PACKAGE_RELEASE})
file(STRINGS ${_kordb_pkg_src}/changelog.in _kordb_changelog_top LIMIT_COUNT 1)
if(NOT _kordb_changelog_top MATCHES "^kordb \\(${_kordb_deb_version}\\) ")
  message(WARNING "packaging/changelog.in has no entry for version ${_kordb_deb_version} on "
                  "its first line; scripts/check_package will refuse the package")
endif()

add_custom_target(kordb_package_files ALL
  DEPENDS ${_kordb_bin_books} ${_kordb_manpages} ${_kordb_pkg_out}/changelog.Debian.gz)

# --- Install rules (component "kordb": the package holds nothing else) ---------------------

set(_kordb_icons ${CMAKE_INSTALL_DATADIR}/icons/hicolor)
install(TARGETS kordb kordb-cli RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT kordb)
install(PROGRAMS ${_kordb_pkg_src}/kordb-demo DESTINATION ${CMAKE_INSTALL_BINDIR}
        COMPONENT kordb)
install(FILES ${_kordb_pkg_src}/kordb.desktop
        DESTINATION ${CMAKE_INSTALL_DATADIR}/applications COMPONENT kordb)
install(FILES ${_kordb_pkg_src}/kordb.svg DESTINATION ${_kordb_icons}/scalable/apps
        COMPONENT kordb)
foreach(_size 48 128)
  install(FILES ${_kordb_pkg_src}/kordb-${_size}.png
          DESTINATION ${_kordb_icons}/${_size}x${_size}/apps RENAME kordb.png COMPONENT kordb)
endforeach()
install(FILES ${_kordb_pkg_src}/io.github.kordb.metainfo.xml
        DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo COMPONENT kordb)
install(FILES ${_kordb_manpages} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1 COMPONENT kordb)
install(FILES ${_kordb_pkg_src}/kordb-cli.bash
        DESTINATION ${CMAKE_INSTALL_DATADIR}/bash-completion/completions RENAME kordb-cli
        COMPONENT kordb)
# kordb-demo finds these at ../share/kordb from its own folder.
install(FILES ${_kordb_demo}/kordb_demo.db ${_kordb_demo_books}
              ${CMAKE_SOURCE_DIR}/demo/destination.sql
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kordb COMPONENT kordb)
install(PROGRAMS ${CMAKE_SOURCE_DIR}/demo/run_headless.sh
        DESTINATION ${CMAKE_INSTALL_DATADIR}/kordb COMPONENT kordb)
install(FILES ${_kordb_pkg_src}/copyright ${_kordb_pkg_out}/changelog.Debian.gz
        DESTINATION ${CMAKE_INSTALL_DOCDIR} COMPONENT kordb)
install(FILES ${_kordb_pkg_src}/lintian-overrides
        DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides RENAME kordb COMPONENT kordb)

# --- The Debian package ---------------------------------------------------------------------

set(CPACK_GENERATOR DEB)
set(CPACK_PACKAGE_NAME kordb)
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_VENDOR "Korvin Database Migration Tools developers")
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY
    "load back-office master data from Excel workbooks into SQL Server")
# One paragraph line per line of the control file, which Debian wants at most 80 wide.
string(CONCAT CPACK_DEBIAN_PACKAGE_DESCRIPTION
  "Korvin Database Migration Tools is a single-window tool that loads the master\n"
  "data of a point-of-sale back office (stock items with their price look-up\n"
  "codes, item classes, debtors and creditors) from an Excel 97-2003 workbook\n"
  "(.xls) into the back office's SQL Server database over ODBC. It verifies a\n"
  "worksheet first (missing and duplicated keys, repeated PLU codes, keys with a\n"
  "quote or a blank), writes the offending rows to error files, and then\n"
  "migrates the worksheet row by row.\n"
  "\n"
  "kordb-cli runs the same procedures from a command line, for scripted loads;\n"
  "kordb-demo runs them on demo data through the SQLite ODBC driver, without a\n"
  "SQL Server.")
set(CPACK_PACKAGE_CONTACT "${KORDB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${KORDB_PACKAGE_MAINTAINER}")
set(CPACK_DEBIAN_PACKAGE_RELEASE ${KORDB_PACKAGE_RELEASE})
set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION database)
set(CPACK_DEBIAN_PACKAGE_PRIORITY optional)
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
# The SQL Server driver for production, the SQLite one for kordb-demo.
set(CPACK_DEBIAN_PACKAGE_RECOMMENDS "tdsodbc, libsqliteodbc")
set(CPACK_STRIP_FILES ON)
set(CPACK_INSTALL_DEFAULT_DIRECTORY_PERMISSIONS
    OWNER_READ OWNER_WRITE OWNER_EXECUTE GROUP_READ GROUP_EXECUTE WORLD_READ WORLD_EXECUTE)
set(CPACK_DEB_COMPONENT_INSTALL ON)
set(CPACK_COMPONENTS_ALL kordb)
set(CPACK_COMPONENTS_GROUPING ALL_COMPONENTS_IN_ONE)
set(CPACK_PACKAGE_DIRECTORY ${CMAKE_BINARY_DIR})
include(CPack)
