# Run at install time: writes the sample registry with the installation
# directory as installed (the prefix may be given only now).
if(LORVEX_REG_WINDOWS)
  set(install_dir "C:\\Lorvex")
  set(newlines WIN32)
else()
  cmake_path(SET install_dir NORMALIZE "${CMAKE_INSTALL_PREFIX}/${LORVEX_REG_DATA_DIR}")
  string(REGEX REPLACE "(.)/$" "\\1" install_dir "${install_dir}")
  set(newlines UNIX)
endif()
# A registry-editor string doubles its backslashes and escapes its quotes.
string(REPLACE "\\" "\\\\" LORVEX_REG_INSTALL_DIR "${install_dir}")
string(REPLACE "\"" "\\\"" LORVEX_REG_INSTALL_DIR "${LORVEX_REG_INSTALL_DIR}")
set(reg_file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${LORVEX_REG_DATA_DIR}/${LORVEX_REG_NAME}")
message(STATUS "Installing: ${reg_file}")
configure_file("${LORVEX_REG_TEMPLATE}" "${reg_file}" @ONLY NEWLINE_STYLE ${newlines})
