// lorvex-programs: every POSIX program of the system in one file, each name
// a link to it. The program run is the one named by the link that was
// started; its own folder (the file's) holds every name, so that the
// programs find each other there first.
#include <cstdio>
#include <string>

#include "multicall/dispatch.h"
#include "multicall/program_table.h"
#include "port/posix/started_as.h"

int main(int argc, char** argv) {
  const char* const path = port::posix::started_path(argc > 0 ? argv[0] : nullptr);
  const multicall::Program* const program = multicall::find_program(path, kPrograms);
  if (program == nullptr) {
    std::fputs(multicall::usage_line(path, kPrograms).c_str(), stderr);
    return 1;
  }
  // A program that runs the interpreter or another program of the system
  // would run whatever a foreign folder holds under those names, or fail
  // half-way through its work: such a start does nothing.
  std::string why;
  if (!port::posix::own_folder_is_the_programs(&why)) {
    std::fprintf(stderr, "%s: not started: %s.  Start it through a link to the program file in its folder.\n",
                 program->name, why.c_str());
    return 1;
  }
  return program->entry(argc, argv);
}
