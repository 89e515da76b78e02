// LaunchServer: starts the export daemon of one gatherer in the background.
#include <cstdio>

#include "admin/process/launchserver/starter.h"
#include "admin/process/process_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    write_diagnostic(stderr, "LaunchServer", "Usage: LaunchServer.exe ini_file.\n");
    return 1;
  }
  return launch_server(argv[1]);
}
