// LaunchCrawler: runs the gathering script of one gatherer from its settings file.
#include "admin/common/diagnostics.h"
#include "admin/process/launchcrawler/launcher.h"

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (argc != 2) {
    Diagnostics("LaunchCrawler").say("Usage: LaunchCrawler.exe ini_file");
    return 1;
  }
  return launch_crawler(argv[1]);
}
