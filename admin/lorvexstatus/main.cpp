// lorvex-status: whether each gatherer's cycle is at work and its export
// daemon runs, how its last cycle ended, what its database holds, and what
// needs the administrator's attention.
#include <cstring>
#include <string>
#include <vector>

#include "admin/common/diagnostics.h"
#include "admin/lorvexstatus/status.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: lorvex-status [--brief] [SETTINGS ...]";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "lorvex-status", kUsage); answered >= 0) {
    return answered;
  }
  bool brief = false;
  std::vector<std::string> settings_files;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--brief") == 0 && settings_files.empty() && !brief) {
      brief = true;
    } else if (argv[i][0] == '-') {
      // Any other option word, however short; a settings file of such a
      // name is named "./-x".
      Diagnostics("lorvex-status").say("%s", kUsage);
      return kStatusUsage;
    } else {
      settings_files.push_back(argv[i]);
    }
  }
  return run_status_command(settings_files, brief);
}
