# Common compiler settings for every target of the tree.

if(WIN32)
  set(LORVEX_TARGET_WINDOWS ON)
else()
  set(LORVEX_TARGET_WINDOWS OFF)
endif()

add_library(lorvex_options INTERFACE)
target_include_directories(lorvex_options INTERFACE ${PROJECT_SOURCE_DIR})
target_compile_options(lorvex_options INTERFACE -Wall -Wextra -Wshadow -Wformat=2)
if(LORVEX_WERROR)
  target_compile_options(lorvex_options INTERFACE -Werror)
endif()

if(LORVEX_TARGET_WINDOWS)
  # Real Windows console programs: statically linked, narrow (ANSI) API.
  target_compile_definitions(lorvex_options INTERFACE WIN32_LEAN_AND_MEAN NOMINMAX _WIN32_WINNT=0x0601)
  target_link_options(lorvex_options INTERFACE -static -static-libgcc -static-libstdc++)
endif()

if(LORVEX_SANITIZE)
  target_compile_options(lorvex_options INTERFACE -fsanitize=address,undefined -fno-omit-frame-pointer -fno-sanitize-recover=undefined)
  target_link_options(lorvex_options INTERFACE -fsanitize=address,undefined)
endif()

# Texts of the system are Shift_JIS (code page 932) in the binaries while the
# sources stay UTF-8: files that hold Japanese literals are compiled with this.
function(lorvex_sjis_sources)
  set_source_files_properties(${ARGN} PROPERTIES
    COMPILE_OPTIONS "-finput-charset=UTF-8;-fexec-charset=CP932")
endfunction()

# A program of the system. Its entry is the function LORVEX_PROGRAM_ENTRY
# names (int (int, char**)), and its name belongs in LORVEX_PROGRAMS
# (cmake/programs.cmake).
#
# On Windows each program is a statically linked NAME.exe of its own in
# bin/, its entry its main. On POSIX the programs are one program file,
# lorvex-programs (multicall/), which chooses the program by the name it was
# started as: each program is a library of it here, whose entry is
# lorvex_main_NAME, and bin/ holds a link of each name to the file. A start
# then costs one process and no loading of a shared C++ runtime.
function(lorvex_program name)
  set_property(GLOBAL APPEND PROPERTY LORVEX_BUILT_PROGRAMS ${name})
  if(LORVEX_TARGET_WINDOWS)
    add_executable(${name} ${ARGN})
    target_link_libraries(${name} PRIVATE lorvex_options lorvex_program_start)
    set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${LORVEX_BIN_DIR})
    target_compile_definitions(${name} PRIVATE LORVEX_PROGRAM_ENTRY=main)
  else()
    add_library(${name} STATIC ${ARGN})
    target_link_libraries(${name} PRIVATE lorvex_options)
    # A name such as lorvex-cycle is no identifier: its entry's is made of it.
    string(MAKE_C_IDENTIFIER ${name} entry)
    target_compile_definitions(${name} PRIVATE LORVEX_PROGRAM_ENTRY=lorvex_main_${entry})
  endif()
endfunction()

# Files of loops built for processors with 32-byte vectors: their code runs
# only where the processor says it has them (the caller asks first). Not in
# the Windows build, whose compiler does not keep the stack aligned for them.
function(lorvex_wide_vectors)
  if(NOT LORVEX_TARGET_WINDOWS AND CMAKE_SYSTEM_PROCESSOR MATCHES "^(x86_64|AMD64|amd64)$")
    set_source_files_properties(${ARGN} PROPERTIES COMPILE_OPTIONS -mavx2)
  endif()
endfunction()
