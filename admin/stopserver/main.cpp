// StopServer: stops the export daemon of one gatherer.
#include "admin/common/diagnostics.h"
#include "admin/stopserver/stopper.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: StopServer.exe ini_file mode(NORMAL|FORCED).";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "StopServer", kUsage); answered >= 0) return answered;
  if (argc != 3) {
    Diagnostics("StopServer").say("%s", kUsage);
    return -1;
  }
  return stop_server(argv[1], argv[2]);
}
