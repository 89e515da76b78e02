// LaunchCrawler: runs the gathering script of one gatherer from its settings file.
#include <cstdio>

#include "admin/process/launchcrawler/launcher.h"
#include "admin/process/process_files.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    write_diagnostic(stderr, "LaunchCrawler", "Usage: LaunchCrawler.exe ini_file\n");
    return 1;
  }
  return launch_crawler(argv[1]);
}
