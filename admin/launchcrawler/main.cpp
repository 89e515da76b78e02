// LaunchCrawler: runs the gathering script of one gatherer from its settings file.
#include "admin/common/diagnostics.h"
#include "admin/launchcrawler/launcher.h"
#include "admin/processfiles/process_files.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: LaunchCrawler.exe ini_file";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, kLauncherProgram, kUsage); answered >= 0) return answered;
  if (argc != 2) {
    Diagnostics(kLauncherProgram).say("%s", kUsage);
    return 1;
  }
  return launch_crawler(argv[1]);
}
