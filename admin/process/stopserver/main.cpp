// StopServer: stops the export daemon of one gatherer.
#include <cstdio>

#include "admin/process/process_files.h"
#include "admin/process/stopserver/stopper.h"

int main(int argc, char** argv) {
  if (argc != 3) {
    write_diagnostic(stderr, "StopServer", "Usage: StopServer.exe ini_file mode(NORMAL|FORCED).\n");
    return -1;
  }
  return stop_server(argv[1], argv[2]);
}
