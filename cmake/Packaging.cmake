# Install rules and packages (CPack). scripts/package builds both packages:
#
#   TARVIK_LAYOUT=system    the Debian package (cpack -G DEB): programs in /usr/bin, the demonstration
#                           CSV files in /usr/share/tarvik/demo, the menu entry, icons, AppStream
#                           metainfo, man pages and docs; each user's home is ~/.local/share/Tarvik.
#   TARVIK_LAYOUT=portable  the portable bundle (cpack -G TGZ): one folder with the programs, a `data`
#                           folder (the demonstration data) beside them, which makes that folder the
#                           home, plus demo/, man/ and docs/. It runs from wherever it is unpacked: the
#                           programs link only system libraries (Qt 6, libcurl, FreeXL from the system's
#                           packages) and carry no RPATH.
#
# Only the three programs and the files below are installed; `install` does not build the tests.
set(CMAKE_SKIP_INSTALL_ALL_DEPENDENCY ON)
include(GNUInstallDirs)

set(TARVIK_LAYOUT "system" CACHE STRING "Install layout: system (the Debian package) or portable (one folder)")
set_property(CACHE TARVIK_LAYOUT PROPERTY STRINGS system portable)

# What the packages say about themselves, set once here.
set(TARVIK_APP_ID "org.tarvik.Tarvik")
set(TARVIK_RELEASE_DATE "2026-12-08")
set(TARVIK_RELEASE_DATE_RFC2822 "Tue, 08 Dec 2026 12:00:00 +0000")
set(TARVIK_MAINTAINER_EMAIL "maintainers@tarvik.org")
set(TARVIK_HOMEPAGE "https://tarvik.org")

set(_pkg ${CMAKE_BINARY_DIR}/packaging)
set(_src ${CMAKE_SOURCE_DIR}/packaging)
file(MAKE_DIRECTORY ${_pkg}/man)

# Man pages and the changelog, with the version filled in, compressed as Debian wants them.
set(_generated "")
foreach(page tarvik relayo2 dbftool)
  configure_file(${_src}/man/${page}.1.in ${_pkg}/man/${page}.1 @ONLY)
  add_custom_command(OUTPUT ${_pkg}/man/${page}.1.gz
    COMMAND gzip -9n -c ${_pkg}/man/${page}.1 > ${_pkg}/man/${page}.1.gz
    DEPENDS ${_pkg}/man/${page}.1 VERBATIM)
  list(APPEND _generated ${_pkg}/man/${page}.1.gz)
endforeach()
configure_file(${_src}/changelog.in ${_pkg}/changelog @ONLY)
add_custom_command(OUTPUT ${_pkg}/changelog.gz
  COMMAND gzip -9n -c ${_pkg}/changelog > ${_pkg}/changelog.gz
  DEPENDS ${_pkg}/changelog VERBATIM)
list(APPEND _generated ${_pkg}/changelog.gz)
configure_file(${_src}/${TARVIK_APP_ID}.metainfo.xml.in ${_pkg}/${TARVIK_APP_ID}.metainfo.xml @ONLY)

# The icon's PNG sizes, drawn from the SVG.
set(TARVIK_ICON_SIZES 16 24 32 48 64 128 256)
find_program(RSVG_CONVERT rsvg-convert)
if(RSVG_CONVERT)
  foreach(size ${TARVIK_ICON_SIZES})
    add_custom_command(OUTPUT ${_pkg}/icons/${size}/${TARVIK_APP_ID}.png
      COMMAND ${CMAKE_COMMAND} -E make_directory ${_pkg}/icons/${size}
      COMMAND ${RSVG_CONVERT} -w ${size} -h ${size} ${_src}/icons/${TARVIK_APP_ID}.svg
              -o ${_pkg}/icons/${size}/${TARVIK_APP_ID}.png
      DEPENDS ${_src}/icons/${TARVIK_APP_ID}.svg VERBATIM)
    list(APPEND _generated ${_pkg}/icons/${size}/${TARVIK_APP_ID}.png)
  endforeach()
endif()
add_custom_target(packagefiles DEPENDS ${_generated})

# The demonstration data folder of the portable bundle, made by the builder the program itself uses.
add_custom_command(OUTPUT ${_pkg}/portable-data/Bids.dbf
  COMMAND ${CMAKE_COMMAND} -E rm -rf ${_pkg}/portable-data
  COMMAND demodata ${CMAKE_SOURCE_DIR}/data/demo ${_pkg}/portable-data
  DEPENDS demodata ${CMAKE_SOURCE_DIR}/data/demo/ca_fsa.csv ${CMAKE_SOURCE_DIR}/data/demo/countries.csv
          ${CMAKE_SOURCE_DIR}/data/demo/us_zip.csv
  VERBATIM)
add_custom_target(portabledata DEPENDS ${_pkg}/portable-data/Bids.dbf)

# A build folder is laid out like an installed program: bin/ beside share/tarvik/demo, so that the
# first-start window of a build finds the demonstration files too.
file(COPY ${CMAKE_SOURCE_DIR}/data/demo/ DESTINATION ${CMAKE_BINARY_DIR}/share/tarvik/demo)

set(_docs ${CMAKE_SOURCE_DIR}/README.md ${CMAKE_SOURCE_DIR}/NOTICE ${CMAKE_SOURCE_DIR}/docs/windows.md)
if(TARVIK_LAYOUT STREQUAL "portable")
  install(TARGETS tarvik relayo2 dbftool RUNTIME DESTINATION .)
  install(DIRECTORY ${_pkg}/portable-data/ DESTINATION data)
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/demo/ DESTINATION demo)
  install(FILES ${_pkg}/man/tarvik.1.gz ${_pkg}/man/relayo2.1.gz ${_pkg}/man/dbftool.1.gz DESTINATION man)
  install(FILES ${_docs} DESTINATION docs)
  install(FILES ${CMAKE_SOURCE_DIR}/tools/relayo2/README.md DESTINATION docs RENAME relayo2.md)
  install(FILES ${_src}/icons/${TARVIK_APP_ID}.svg DESTINATION .)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/")
else()
  install(TARGETS tarvik relayo2 dbftool RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})
  install(DIRECTORY ${CMAKE_SOURCE_DIR}/data/demo/ DESTINATION ${CMAKE_INSTALL_DATADIR}/tarvik/demo)
  install(FILES ${_src}/${TARVIK_APP_ID}.desktop DESTINATION ${CMAKE_INSTALL_DATADIR}/applications)
  install(FILES ${_pkg}/${TARVIK_APP_ID}.metainfo.xml DESTINATION ${CMAKE_INSTALL_DATADIR}/metainfo)
  install(FILES ${_src}/icons/${TARVIK_APP_ID}.svg
          DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/scalable/apps)
  if(RSVG_CONVERT)
    foreach(size ${TARVIK_ICON_SIZES})
      install(FILES ${_pkg}/icons/${size}/${TARVIK_APP_ID}.png
              DESTINATION ${CMAKE_INSTALL_DATADIR}/icons/hicolor/${size}x${size}/apps)
    endforeach()
  endif()
  install(FILES ${_pkg}/man/tarvik.1.gz ${_pkg}/man/relayo2.1.gz ${_pkg}/man/dbftool.1.gz
          DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
  # The package's doc folder is named after the package, in lower case.
  set(_docdir ${CMAKE_INSTALL_DATADIR}/doc/tarvik)
  install(FILES ${_docs} ${_src}/copyright ${_pkg}/changelog.gz DESTINATION ${_docdir})
  install(FILES ${CMAKE_SOURCE_DIR}/tools/relayo2/README.md DESTINATION ${_docdir} RENAME relayo2.md)
  set(CPACK_PACKAGING_INSTALL_PREFIX "/usr")
endif()

set(CPACK_PACKAGE_NAME "tarvik")
set(CPACK_PACKAGE_VENDOR "The Tarvik developers")
set(CPACK_PACKAGE_VERSION ${PROJECT_VERSION})
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "prepare freight-pricing bids and submit them")
set(CPACK_PACKAGE_DESCRIPTION
    "Tarvik, the Incentive Model, is the desktop program in which an account
executive of a parcel carrier prepares a bid for one shipper, checks it for
completeness and submits it. Bids and reference tables are kept in xBase
tables (DBF, FPT, CDX). The package holds the program, its transfer program
relayo2 (FTP, FTPS, SFTP), the table tool dbftool and the demonstration data.")
set(CPACK_PACKAGE_CONTACT "The Tarvik developers <${TARVIK_MAINTAINER_EMAIL}>")
set(CPACK_STRIP_FILES ON)
set(CPACK_SOURCE_IGNORE_FILES "/build/;/\\\\.git/")

set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
set(CPACK_DEBIAN_PACKAGE_SECTION "misc")
set(CPACK_DEBIAN_PACKAGE_PRIORITY "optional")
set(CPACK_DEBIAN_PACKAGE_HOMEPAGE ${TARVIK_HOMEPAGE})
set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
set(CPACK_DEBIAN_COMPRESSION_TYPE xz)

set(CPACK_ARCHIVE_FILE_NAME "tarvik-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
set(CPACK_PACKAGE_FILE_NAME "tarvik-${PROJECT_VERSION}-linux-${CMAKE_SYSTEM_PROCESSOR}")
include(CPack)
