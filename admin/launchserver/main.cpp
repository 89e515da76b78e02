// LaunchServer: starts the export daemon of one gatherer in the background.
#include "admin/common/diagnostics.h"
#include "admin/launchserver/starter.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: LaunchServer.exe ini_file.";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "LaunchServer", kUsage); answered >= 0) return answered;
  if (argc != 2) {
    Diagnostics("LaunchServer").say("%s", kUsage);
    return 1;
  }
  return launch_server(argv[1]);
}
