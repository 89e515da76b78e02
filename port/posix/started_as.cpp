#include "port/posix/started_as.h"

#include <strings.h>
#include <sys/auxv.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstring>

#include "port/posix/find_program.h"
#include "port/posix/syscalls.h"
#include "port/text.h"

#include <string>

#include "port/process.h"

namespace port::posix {

namespace {

// The longest name the system keeps for a process.
constexpr std::size_t kProcessNameLength = 15;
constexpr std::string_view kExe = ".exe";

// Whether text is, without regard to the case of its letters, the start of
// ".exe" (all of it when whole).
bool exe_ending(std::string_view text, bool whole) {
  if (text.size() > kExe.size() || (whole && text.size() != kExe.size())) return false;
  for (std::size_t i = 0; i < text.size(); ++i) {
    if (port::ascii_lower(text[i]) != kExe[i]) return false;
  }
  return true;
}

}  // namespace

const char* started_path(const char* argv0) {
  // The kernel keeps the path execve was given in the auxiliary vector.
  const auto kept = reinterpret_cast<const char*>(::getauxval(AT_EXECFN));
  if (kept != nullptr && *kept != '\0') return kept;
  return argv0 != nullptr ? argv0 : "";
}

bool names_program(std::string_view name, std::string_view program) {
  if (name == program) return true;
  return name.size() > program.size() && name.substr(0, program.size()) == program &&
         exe_ending(name.substr(program.size()), true);
}

bool process_name_of(std::string_view comm, std::string_view program) {
  // A name shorter than the system's limit is whole.
  if (comm.size() < kProcessNameLength) return names_program(comm, program);
  if (comm.size() > kProcessNameLength) return false;
  // Cut: the start of the program's name, or of it with its ending.
  if (program.size() >= kProcessNameLength) return comm == program.substr(0, kProcessNameLength);
  return comm.substr(0, program.size()) == program && exe_ending(comm.substr(program.size()), false);
}

bool own_folder_is_the_programs(std::string* why) {
  const std::string folder = own_program_dir();
  struct stat running {};
  struct stat interpreter {};
  if (folder.empty() || sys().stat("/proc/self/exe", &running) != 0) {
    *why = "its own program file cannot be found (/proc/self/exe)";
    return false;
  }
  const std::string cmd = (folder == "/" ? folder : folder + "/") + "cmd";
  if (sys().stat(cmd.c_str(), &interpreter) != 0 || interpreter.st_dev != running.st_dev ||
      interpreter.st_ino != running.st_ino) {
    *why = "its program file is in " + folder + ", whose cmd is not that file: a copy or a hard link of the file "
           "outside its folder finds neither the interpreter nor the other programs there";
    return false;
  }
  return true;
}

}  // namespace port::posix

namespace port {

std::string program_name() {
  std::string name = posix::started_path(nullptr);
  const std::size_t slash = name.rfind('/');
  if (slash != std::string::npos) name.erase(0, slash + 1);
  if (name.size() > 4 && strcasecmp(name.c_str() + name.size() - 4, ".exe") == 0) name.resize(name.size() - 4);
  return name;
}

}  // namespace port
