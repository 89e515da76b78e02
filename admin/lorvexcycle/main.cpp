// lorvex-cycle: runs one gathering cycle of a gatherer through its launcher
// and tells its outcome by the exit status, in the system log and in the
// gatherer directory's last-cycle.
#include "admin/common/diagnostics.h"
#include "admin/lorvexcycle/cycle_command.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: lorvex-cycle SETTINGS";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "lorvex-cycle", kUsage); answered >= 0) {
    return answered;
  }
  if (argc != 2) {
    Diagnostics("lorvex-cycle").say("%s", kUsage);
    return kCycleUsage;
  }
  return run_cycle_command(argv[1]);
}
