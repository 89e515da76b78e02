# Run at install time, when the prefix is known: makes the installation
# directory and writes the sample registry that names it.
#
# On POSIX the installation directory is writable state, kept apart from the
# read-only share/lorvex: /var/lib/lorvex for the prefix /usr (the Debian
# package), PREFIX/var/lib/lorvex for any other prefix. Its lib is a link to
# the one catalogue folder in share/lorvex. On Windows the installed folder
# is the installation directory, C:\Lorvex where its .zip unpacks.
if(LORVEX_REG_WINDOWS)
  set(install_dir "C:\\Lorvex")
  set(newlines WIN32)
  # Windows opens no manual page: the guide lies beside this file.
  set(LORVEX_REG_GUIDE "README.txt in this folder says how, and what comes next.")
else()
  cmake_path(SET prefix NORMALIZE "${CMAKE_INSTALL_PREFIX}/")
  string(REGEX REPLACE "(.)/$" "\\1" prefix "${prefix}")
  if(prefix STREQUAL "/usr")
    set(install_dir /var/lib/lorvex)
  else()
    set(install_dir "${prefix}/var/lib/lorvex")
  endif()
  set(staged_dir "$ENV{DESTDIR}${install_dir}")
  message(STATUS "Installing: ${staged_dir}/lib")
  file(MAKE_DIRECTORY "${staged_dir}")
  file(REMOVE "${staged_dir}/lib")
  file(CREATE_LINK "${prefix}/${LORVEX_REG_DATA_DIR}/lib" "${staged_dir}/lib" SYMBOLIC)
  set(newlines UNIX)
  set(LORVEX_REG_GUIDE "See lorvex(7).")
endif()
# A registry-editor string doubles its backslashes and escapes its quotes.
string(REPLACE "\\" "\\\\" LORVEX_REG_INSTALL_DIR "${install_dir}")
string(REPLACE "\"" "\\\"" LORVEX_REG_INSTALL_DIR "${LORVEX_REG_INSTALL_DIR}")
set(reg_file "$ENV{DESTDIR}${CMAKE_INSTALL_PREFIX}/${LORVEX_REG_DATA_DIR}/${LORVEX_REG_NAME}")
message(STATUS "Installing: ${reg_file}")
configure_file("${LORVEX_REG_TEMPLATE}" "${reg_file}" @ONLY NEWLINE_STYLE ${newlines})
