# Run at install time, when the prefix is known: writes the systemd units
# with the folder of the programs they start (/usr/bin for the package,
# PREFIX/bin for any other prefix), so that the units of an installation
# under /usr/local start its own programs.
cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}/")
string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")
# The folder goes into a quoted word of the units' command lines: the
# system manager reads a backslash and a quote there as escapes, and a
# percent sign as a specifier.
set(LORVEX_UNIT_BIN_DIR "${prefix}/${LORVEX_UNITS_BINDIR}")
string(REPLACE "\\" "\\\\" LORVEX_UNIT_BIN_DIR "${LORVEX_UNIT_BIN_DIR}")
string(REPLACE "\"" "\\\"" LORVEX_UNIT_BIN_DIR "${LORVEX_UNIT_BIN_DIR}")
string(REPLACE "%" "%%" LORVEX_UNIT_BIN_DIR "${LORVEX_UNIT_BIN_DIR}")
set(unit_dir "$ENV{DESTDIR}${prefix}/lib/systemd/system")
file(MAKE_DIRECTORY "${unit_dir}")
foreach(template IN LISTS LORVEX_UNIT_TEMPLATES)
  get_filename_component(name "${template}" NAME)
  string(REGEX REPLACE "\\.in$" "" name "${name}")
  message(STATUS "Installing: ${unit_dir}/${name}")
  configure_file("${template}" "${unit_dir}/${name}" @ONLY)
endforeach()
