# Installation and packages. The system's programs go to bin/; the catalogue,
# the sample installation and the sample registry to share/lorvex/ (on
# Windows: the .exe files in bin\, the catalogue in lib\ and lorvex.reg at the
# top of the folder, which is the installation directory); the manual pages
# to share/man/man1/.
include(GNUInstallDirs)

set(LORVEX_SUMMARIZERS htmlsift htmlsift2 freelancesift ichitarosift ppointsift rtfsift pdfsift wordsift
    lotus123sift writesift)
set(LORVEX_INSTALLED_PROGRAMS cyclerun storeseal packdump LaunchCrawler LaunchServer StopServer skim
    ${LORVEX_SUMMARIZERS})
if(NOT LORVEX_TARGET_WINDOWS)
  # "cmd.exe /C" reaches it on POSIX.
  list(APPEND LORVEX_INSTALLED_PROGRAMS cmd)
endif()
install(TARGETS ${LORVEX_INSTALLED_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR})

if(LORVEX_TARGET_WINDOWS)
  set(LORVEX_INSTALL_DATA_DIR .)
else()
  set(LORVEX_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/lorvex)
endif()

# The installation directory: the catalogue, and on POSIX the demo gatherer
# with its settings, the search-service peer and the web server's files.
install(FILES demo/lib/lorvex.msg DESTINATION ${LORVEX_INSTALL_DATA_DIR}/lib)
install(DIRECTORY demo/htdocs DESTINATION ${LORVEX_INSTALL_DATA_DIR})
install(FILES demo/lighttpd.conf DESTINATION ${LORVEX_INSTALL_DATA_DIR})
if(NOT LORVEX_TARGET_WINDOWS)
  install(DIRECTORY demo/gatherers DESTINATION ${LORVEX_INSTALL_DATA_DIR})
  install(FILES demo/gatherer.ini DESTINATION ${LORVEX_INSTALL_DATA_DIR})
  install(PROGRAMS demo/searchservice.py DESTINATION ${LORVEX_INSTALL_DATA_DIR})
endif()

# The sample registry names the installation directory as it is at install
# time (cmake --install --prefix, or the package's /usr), so it is written
# then. The Windows folder is named for where its .zip unpacks: C:\Lorvex.
if(LORVEX_TARGET_WINDOWS)
  set(LORVEX_REG_NAME lorvex.reg)
else()
  set(LORVEX_REG_NAME registry.reg)
endif()
install(CODE "
  set(LORVEX_REG_TEMPLATE \"${PROJECT_SOURCE_DIR}/cmake/registry.reg.in\")
  set(LORVEX_REG_DATA_DIR \"${LORVEX_INSTALL_DATA_DIR}\")
  set(LORVEX_REG_NAME \"${LORVEX_REG_NAME}\")
  set(LORVEX_REG_WINDOWS ${LORVEX_TARGET_WINDOWS})
  include(\"${PROJECT_SOURCE_DIR}/cmake/install_registry.cmake\")
")

# The manual pages: one per program; the eight document-filter summarizers
# share one page source with their name and formats filled in.
if(NOT LORVEX_TARGET_WINDOWS)
  set(LORVEX_MAN_DIR ${CMAKE_BINARY_DIR}/man/man1)
  set(LORVEX_MAN_PAGES)
  foreach(name cyclerun storeseal packdump LaunchCrawler LaunchServer StopServer skim htmlsift htmlsift2 cmd)
    configure_file(man/${name}.1 ${LORVEX_MAN_DIR}/${name}.1 COPYONLY)
    list(APPEND LORVEX_MAN_PAGES ${LORVEX_MAN_DIR}/${name}.1)
  endforeach()
  # name|the documents it reads|whether the filter gets --body-only|an example file
  foreach(entry
      "freelancesift|Freelance presentations|yes|slides.prz"
      "ichitarosift|Ichitaro documents|yes|letter.jtd"
      "ppointsift|PowerPoint presentations|no|slides.ppt"
      "rtfsift|RTF documents|no|notes.rtf"
      "pdfsift|PDF documents|yes|manual.pdf"
      "wordsift|Word documents|no|report.doc"
      "lotus123sift|Lotus 1\\-2\\-3 worksheets|yes|budget.123"
      "writesift|Write documents|yes|memo.wri")
    string(REPLACE "|" ";" fields "${entry}")
    list(GET fields 0 NAME)
    list(GET fields 1 DOCUMENTS)
    list(GET fields 2 body_only)
    list(GET fields 3 EXAMPLE)
    string(TOUPPER "${NAME}" UPPER)
    if(body_only)
      set(BODYONLY ", asking it for the body text only\n.RB ( \\-\\-body\\-only )")
    else()
      set(BODYONLY "")
    endif()
    configure_file(man/filtersift.1.in ${LORVEX_MAN_DIR}/${NAME}.1 @ONLY)
    list(APPEND LORVEX_MAN_PAGES ${LORVEX_MAN_DIR}/${NAME}.1)
  endforeach()
  install(FILES ${LORVEX_MAN_PAGES} DESTINATION ${CMAKE_INSTALL_MANDIR}/man1)
endif()

# Packages: a Debian package from the POSIX build, a .zip from the Windows
# build (scripts/package makes both).
set(CPACK_PACKAGE_NAME lorvex-gathering)
set(CPACK_PACKAGE_VENDOR VELMORA)
set(CPACK_PACKAGE_VERSION 1.0.0)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lorvex gathering administration tools")
set(CPACK_PACKAGE_CONTACT "Lorvex administrators <root@localhost>")
if(LORVEX_TARGET_WINDOWS)
  set(CPACK_GENERATOR ZIP)
  # The .zip holds the folder Lorvex, which unpacked at C:\ is the folder
  # the .reg file names.
  set(CPACK_PACKAGE_FILE_NAME Lorvex)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_DESCRIPTION "Console programs that run a gathering cycle, finish the gatherer's\ndatabases, start and stop the gatherer and its export daemon, and\nsummarize documents, with their manual pages, message catalogue and a\nsample installation.")
  # The libraries the programs link, found by dpkg-shlibdeps, and the tools
  # database finishing starts.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)
  set(CPACK_DEBIAN_PACKAGE_DEPENDS "perl, gzip")
  set(CPACK_DEBIAN_PACKAGE_SUGGESTS "lighttpd")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  # The sample registry is written with the prefix the package installs to.
  set(CPACK_SET_DESTDIR ON)
endif()
include(CPack)
