// lorvex-programs: every POSIX program of the system in one file, each name
// a link to it. The program run is the one named by the link that was
// started; its own folder (the file's) holds every name, so that the
// programs find each other there first.
#include <cstdio>

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
  return program->entry(argc, argv);
}
