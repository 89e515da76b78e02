#pragma once
// The path a program was started by, and the names a program answers to.
#include <string>
#include <string_view>

namespace port::posix {

// The path the system was given when it started this program (the link that
// was run, as typed or found along PATH), which the caller's argv[0] need not
// be; argv0 when the system keeps none. Never the file behind a link, which
// /proc/self/exe leads to.
const char* started_path(const char* argv0);

// Whether a start by this base name runs the program: the program's own name,
// or that name with ".exe" in any letter case (a Windows name typed or
// configured for it).
bool names_program(std::string_view name, std::string_view program);

// Whether a process's name (/proc/PID/comm: the base name it was started by,
// cut to 15 bytes) is one of the names that run the program, as cut.
bool process_name_of(std::string_view comm, std::string_view program);

// Whether the running program file is the one its own folder names "cmd":
// the folder whose programs and interpreter it finds first. A copy of the
// file, or a hard link to it, elsewhere has a folder of its own that holds
// none of them. False, with *why, otherwise.
bool own_folder_is_the_programs(std::string* why);

}  // namespace port::posix
