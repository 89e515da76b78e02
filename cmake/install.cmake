# Installation and packages, in two parts (install components):
#
# gathering  the system: its programs in bin/; the catalogue, the message
#            page's files, the CGI page wrapper and the sample registry in
#            share/lorvex/; the manual pages; on POSIX the writable
#            installation directory var/lib/lorvex/ (/var/lib/lorvex for the
#            prefix /usr), whose lib/ reaches the catalogue in share/lorvex/;
#            the systemd units in lib/systemd/system/ and the example log
#            rotation. The Debian package's maintainer scripts make the
#            service user lorvex and give its group the installation
#            directory (cmake/debian/lorvex-gathering/).
#            On Windows the folder itself is the installation directory: the
#            .exe files in bin\, the catalogue in lib\, the page's images,
#            lorvex.reg and the guide README.txt on top; nothing of the
#            POSIX web server's setup.
# standins   POSIX only: stand-ins for the framework's tools in
#            lib/lorvex/standins/ (never in bin/, which the programs search
#            first), the demo gatherer in share/lorvex/demo/ and the command
#            lorvex-demo that runs its whole life.
#
# scripts/package makes a Debian package of each part and a .zip of the
# Windows folder.
include(GNUInstallDirs)

# The one setting that names who answers for the packages.
set(LORVEX_MAINTAINER "Lorvex gathering team <lorvex-gathering@velmora.example>" CACHE STRING
    "The packages' maintainer, as \"Name <address>\"")
# The Debian revision of the packages built from this version.
set(LORVEX_DEBIAN_REVISION 1)

# The programs lorvex_program() builds are those of LORVEX_PROGRAMS, so each
# is installed and has its manual page.
get_property(built_programs GLOBAL PROPERTY LORVEX_BUILT_PROGRAMS)
set(listed_programs ${LORVEX_PROGRAMS})
list(SORT built_programs)
list(SORT listed_programs)
if(NOT "${built_programs}" STREQUAL "${listed_programs}")
  message(FATAL_ERROR "lorvex_program() builds ${built_programs}; LORVEX_PROGRAMS (cmake/programs.cmake) "
                      "names ${listed_programs}")
endif()
if(LORVEX_TARGET_WINDOWS)
  install(TARGETS ${LORVEX_PROGRAMS} RUNTIME DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT gathering)
else()
  # The one program file and a link of every name beside it in
  # lib/lorvex/bin/: a program's own folder is that of the file, where it
  # finds the others first (cmd among them). bin/ holds links of the names a
  # user types, to the file; the interpreter cmd is started by the programs
  # alone and its generic name stays out of bin/.
  set(LORVEX_INSTALL_PROGRAM_DIR lib/lorvex/bin)
  install(TARGETS ${LORVEX_PROGRAM_FILE} RUNTIME DESTINATION ${LORVEX_INSTALL_PROGRAM_DIR} COMPONENT gathering)
  set(typed_programs ${LORVEX_PROGRAMS})
  list(REMOVE_ITEM typed_programs cmd)
  file(RELATIVE_PATH bin_to_file /${CMAKE_INSTALL_BINDIR} /${LORVEX_INSTALL_PROGRAM_DIR}/${LORVEX_PROGRAM_FILE})
  install(CODE "
    set(root \"\$ENV{DESTDIR}\${CMAKE_INSTALL_PREFIX}\")
    file(MAKE_DIRECTORY \"\${root}/${CMAKE_INSTALL_BINDIR}\")
    foreach(name ${LORVEX_PROGRAMS})
      message(STATUS \"Installing: \${root}/${LORVEX_INSTALL_PROGRAM_DIR}/\${name}\")
      file(CREATE_LINK ${LORVEX_PROGRAM_FILE} \"\${root}/${LORVEX_INSTALL_PROGRAM_DIR}/\${name}\" SYMBOLIC)
    endforeach()
    foreach(name ${typed_programs})
      message(STATUS \"Installing: \${root}/${CMAKE_INSTALL_BINDIR}/\${name}\")
      file(CREATE_LINK ${bin_to_file} \"\${root}/${CMAKE_INSTALL_BINDIR}/\${name}\" SYMBOLIC)
    endforeach()
  " COMPONENT gathering)
endif()

if(LORVEX_TARGET_WINDOWS)
  set(LORVEX_INSTALL_DATA_DIR .)
else()
  set(LORVEX_INSTALL_DATA_DIR ${CMAKE_INSTALL_DATADIR}/lorvex)
endif()

# The catalogue and the message page's images.
install(FILES demo/lib/lorvex.msg DESTINATION ${LORVEX_INSTALL_DATA_DIR}/lib COMPONENT gathering)
install(DIRECTORY demo/htdocs DESTINATION ${LORVEX_INSTALL_DATA_DIR} COMPONENT gathering)
if(LORVEX_TARGET_WINDOWS)
  # The guide of a Windows administrator, who has no manual pages: plain
  # ASCII, so that Notepad shows it alike in every code page, with the CR LF
  # line ends it expects.
  configure_file(cmake/windows/README.txt ${CMAKE_BINARY_DIR}/README.txt @ONLY NEWLINE_STYLE CRLF)
  install(FILES ${CMAKE_BINARY_DIR}/README.txt DESTINATION . COMPONENT gathering)
else()
  # The web server's setup and the page wrapper it needs are POSIX's alone.
  install(FILES demo/lighttpd.conf DESTINATION ${LORVEX_INSTALL_DATA_DIR} COMPONENT gathering)
  install(PROGRAMS demo/lastpage DESTINATION ${LORVEX_INSTALL_DATA_DIR} COMPONENT gathering)
  # The demo: its gatherer, the search-service peer and the command.
  install(DIRECTORY demo/gatherers DESTINATION ${LORVEX_INSTALL_DATA_DIR}/demo COMPONENT standins)
  install(PROGRAMS demo/searchservice.py DESTINATION ${LORVEX_INSTALL_DATA_DIR}/demo COMPONENT standins)
  # The command answers --version with the system's version.
  configure_file(demo/lorvex-demo ${CMAKE_BINARY_DIR}/demo/lorvex-demo @ONLY)
  install(PROGRAMS ${CMAKE_BINARY_DIR}/demo/lorvex-demo DESTINATION ${CMAKE_INSTALL_BINDIR} COMPONENT standins)
  # The systemd units (lorvex-units(7)), where the prefix's system manager
  # looks for a package's units, and the example log rotation, not active.
  install(FILES demo/systemd/lorvex-gather@.timer DESTINATION lib/systemd/system COMPONENT gathering)
  install(CODE "
    set(LORVEX_UNIT_TEMPLATES \"${PROJECT_SOURCE_DIR}/demo/systemd/lorvex-gather@.service.in\"
        \"${PROJECT_SOURCE_DIR}/demo/systemd/lorvex-export@.service.in\")
    set(LORVEX_UNITS_BINDIR \"${CMAKE_INSTALL_BINDIR}\")
    include(\"${PROJECT_SOURCE_DIR}/cmake/install_units.cmake\")
  " COMPONENT gathering)
  install(FILES demo/lorvex.logrotate DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/lorvex-gathering/examples
    RENAME lorvex COMPONENT gathering)
endif()

# The sample registry names the installation directory as it is at install
# time (cmake --install --prefix, or the package's /usr), so both are made
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
" COMPONENT gathering)

if(NOT LORVEX_TARGET_WINDOWS)
  # The manual pages, compressed: one per program (the eight document-filter
  # summarizers share one page source with their name and formats filled
  # in), the overview lorvex(7) and the demo's page.
  find_program(LORVEX_GZIP gzip REQUIRED)
  set(LORVEX_MAN_DIR ${CMAKE_BINARY_DIR}/man)
  set(man_pages)
  foreach(name IN LISTS LORVEX_PROGRAMS)
    if(NOT name IN_LIST LORVEX_FILTER_SUMMARIZER_NAMES)
      configure_file(man/${name}.1 ${LORVEX_MAN_DIR}/man1/${name}.1 COPYONLY)
      list(APPEND man_pages gathering:man1/${name}.1)
    endif()
  endforeach()
  foreach(entry IN LISTS LORVEX_FILTER_SUMMARIZERS)
    lorvex_filter_summarizer("${entry}" NAME DOCUMENTS body_only EXAMPLE)
    string(TOUPPER "${NAME}" UPPER)
    if(body_only)
      set(BODYONLY ", asking it for the body text only\n.RB ( \\-\\-body\\-only )")
    else()
      set(BODYONLY "")
    endif()
    configure_file(man/filtersift.1.in ${LORVEX_MAN_DIR}/man1/${NAME}.1 @ONLY)
    list(APPEND man_pages gathering:man1/${NAME}.1)
  endforeach()
  configure_file(man/lorvex.7 ${LORVEX_MAN_DIR}/man7/lorvex.7 COPYONLY)
  configure_file(man/lorvex-demo.1 ${LORVEX_MAN_DIR}/man1/lorvex-demo.1 COPYONLY)
  # The pages of what is no program of the list: the units, the web pages'
  # wrapper, the demo's export client and the stand-ins.
  configure_file(man/lorvex-units.7 ${LORVEX_MAN_DIR}/man7/lorvex-units.7 COPYONLY)
  configure_file(man/lastpage.1 ${LORVEX_MAN_DIR}/man1/lastpage.1 COPYONLY)
  configure_file(man/exportclient.1 ${LORVEX_MAN_DIR}/man1/exportclient.1 COPYONLY)
  configure_file(man/lorvex-standins.7 ${LORVEX_MAN_DIR}/man7/lorvex-standins.7 COPYONLY)
  list(APPEND man_pages gathering:man7/lorvex.7 standins:man1/lorvex-demo.1 gathering:man7/lorvex-units.7
       gathering:man1/lastpage.1 standins:man1/exportclient.1 standins:man7/lorvex-standins.7)

  # Each page compressed as Debian keeps them: no name, no time stamp.
  set(compressed_pages)
  foreach(entry IN LISTS man_pages)
    string(REPLACE ":" ";" fields "${entry}")
    list(GET fields 0 component)
    list(GET fields 1 page)
    get_filename_component(section_dir ${page} DIRECTORY)
    set(gz ${LORVEX_MAN_DIR}/gz/${page}.gz)
    add_custom_command(OUTPUT ${gz}
      COMMAND ${CMAKE_COMMAND} -E make_directory ${LORVEX_MAN_DIR}/gz/${section_dir}
      COMMAND ${LORVEX_GZIP} -9nfk ${LORVEX_MAN_DIR}/${page}
      COMMAND ${CMAKE_COMMAND} -E rename ${LORVEX_MAN_DIR}/${page}.gz ${gz}
      DEPENDS ${LORVEX_MAN_DIR}/${page}
      VERBATIM)
    list(APPEND compressed_pages ${gz})
    install(FILES ${gz} DESTINATION ${CMAKE_INSTALL_MANDIR}/${section_dir} COMPONENT ${component})
  endforeach()
  add_custom_target(lorvex_man_pages ALL DEPENDS ${compressed_pages})

  # Each package's copyright and changelog, as Debian wants them.
  foreach(component_package gathering:lorvex-gathering standins:lorvex-gathering-standins)
    string(REPLACE ":" ";" fields "${component_package}")
    list(GET fields 0 component)
    list(GET fields 1 package)
    configure_file(cmake/debian/copyright.in ${CMAKE_BINARY_DIR}/doc/${package}/copyright @ONLY)
    configure_file(cmake/debian/changelog.in ${CMAKE_BINARY_DIR}/doc/${package}/changelog.Debian @ONLY)
    set(changelog ${CMAKE_BINARY_DIR}/doc/${package}/changelog.Debian.gz)
    add_custom_command(OUTPUT ${changelog}
      COMMAND ${LORVEX_GZIP} -9nfk ${CMAKE_BINARY_DIR}/doc/${package}/changelog.Debian
      DEPENDS ${CMAKE_BINARY_DIR}/doc/${package}/changelog.Debian
      VERBATIM)
    add_custom_target(lorvex_changelog_${component} ALL DEPENDS ${changelog})
    install(FILES ${CMAKE_BINARY_DIR}/doc/${package}/copyright ${changelog}
      DESTINATION ${CMAKE_INSTALL_DATADIR}/doc/${package} COMPONENT ${component})
    # What Debian's checker is told to accept, and why (in the file).
    install(FILES cmake/debian/${package}.lintian-overrides DESTINATION ${CMAKE_INSTALL_DATADIR}/lintian/overrides
      RENAME ${package} COMPONENT ${component})
  endforeach()
endif()

# Packages: a Debian package of each part from the POSIX build, a .zip of
# the folder from the Windows build (scripts/package makes them).
set(CPACK_PACKAGE_NAME lorvex-gathering)
set(CPACK_PACKAGE_VENDOR VELMORA)
set(CPACK_PACKAGE_VERSION ${LORVEX_VERSION})
set(CPACK_PACKAGE_CONTACT "${LORVEX_MAINTAINER}")
if(LORVEX_TARGET_WINDOWS)
  set(CPACK_GENERATOR ZIP)
  set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "Lorvex gathering administration tools")
  # The .zip holds the folder Lorvex, which unpacked at C:\ is the folder
  # the .reg file names.
  set(CPACK_PACKAGE_FILE_NAME Lorvex)
  set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
else()
  set(CPACK_GENERATOR DEB)
  set(CPACK_DEB_COMPONENT_INSTALL ON)
  set(CPACK_COMPONENTS_ALL gathering standins)
  set(CPACK_DEBIAN_PACKAGE_MAINTAINER "${LORVEX_MAINTAINER}")
  set(CPACK_DEBIAN_PACKAGE_RELEASE ${LORVEX_DEBIAN_REVISION})
  set(CPACK_DEBIAN_FILE_NAME DEB-DEFAULT)
  set(CPACK_DEBIAN_PACKAGE_SECTION admin)
  set(CPACK_DEBIAN_PACKAGE_SOURCE lorvex-gathering)
  # The libraries the programs link, found by dpkg-shlibdeps.
  set(CPACK_DEBIAN_PACKAGE_SHLIBDEPS ON)

  # Each part's description begins with its own summary line.
  set(CPACK_DEBIAN_GATHERING_PACKAGE_NAME lorvex-gathering)
  set(CPACK_COMPONENT_GATHERING_DESCRIPTION "Lorvex gathering administration tools
Console programs that run a gathering cycle, finish the gatherer's
databases, start and stop the gatherer and its export daemon, and
summarize documents, with their manual pages, message catalogue, sample
registry and installation directory.")
  # The tools that database finishing and the gathering script start (gzip
  # is essential to every Debian system).
  # adduser: the maintainer scripts make the service user lorvex.
  set(CPACK_DEBIAN_GATHERING_PACKAGE_DEPENDS "perl, adduser")
  set(CPACK_DEBIAN_GATHERING_PACKAGE_CONTROL_EXTRA
      ${PROJECT_SOURCE_DIR}/cmake/debian/lorvex-gathering/postinst
      ${PROJECT_SOURCE_DIR}/cmake/debian/lorvex-gathering/prerm
      ${PROJECT_SOURCE_DIR}/cmake/debian/lorvex-gathering/postrm)
  set(CPACK_DEBIAN_GATHERING_PACKAGE_CONTROL_STRICT_PERMISSION ON)
  set(CPACK_DEBIAN_GATHERING_PACKAGE_SUGGESTS "lighttpd, lorvex-gathering-standins")

  set(CPACK_DEBIAN_STANDINS_PACKAGE_NAME lorvex-gathering-standins)
  set(CPACK_COMPONENT_STANDINS_DESCRIPTION "Lorvex gathering framework stand-ins and demo
Small stand-ins for the indexing framework's tools that a gathering
cycle, the database finishing and the process control start, a demo
gatherer, and the command lorvex-demo that runs the demo gatherer's
whole life in a folder of one's choosing. They let the system be tried
without the framework; they gather nothing from the network.")
  set(CPACK_DEBIAN_STANDINS_PACKAGE_DEPENDS
      "lorvex-gathering (= ${LORVEX_VERSION}-${LORVEX_DEBIAN_REVISION}), perl, python3")
  # The document filter's converter for what it cannot read itself.
  set(CPACK_DEBIAN_STANDINS_PACKAGE_RECOMMENDS "poppler-utils")
  set(CPACK_PACKAGING_INSTALL_PREFIX /usr)
  set(CPACK_INSTALL_PREFIX /usr)
  # The sample registry and the installation directory are written with the
  # prefix the package installs to.
  set(CPACK_SET_DESTDIR ON)
endif()
include(CPack)
