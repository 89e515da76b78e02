// StopServer: stops the export daemon of one gatherer.
#include "admin/common/diagnostics.h"
#include "admin/process/stopserver/stopper.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (argc != 3) {
    Diagnostics("StopServer").say("Usage: StopServer.exe ini_file mode(NORMAL|FORCED).");
    return -1;
  }
  return stop_server(argv[1], argv[2]);
}
