// LaunchServer: starts the export daemon of one gatherer in the background.
#include "admin/common/diagnostics.h"
#include "admin/process/launchserver/starter.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (argc != 2) {
    Diagnostics("LaunchServer").say("Usage: LaunchServer.exe ini_file.");
    return 1;
  }
  return launch_server(argv[1]);
}
