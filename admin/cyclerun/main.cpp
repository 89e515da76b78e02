// cyclerun: runs one gathering cycle of one gatherer from its settings file.
#include <cstdio>

#include "admin/common/diagnostics.h"
#include "admin/cyclerun/gathering_cycle.h"
#include "admin/cyclerun/settings.h"
#include "admin/cyclerun/trees.h"
#include "port/env.h"
#include "port/help_version.h"

namespace {
constexpr char kUsage[] = "Usage: cyclerun.exe ini_file";
}  // namespace

int LORVEX_PROGRAM_ENTRY(int argc, char** argv) {
  if (const int answered = port::answer_help_or_version(argc, argv, "cyclerun", kUsage); answered >= 0) return answered;
  if (argc != 2) {
    Diagnostics("cyclerun").say("%s", kUsage);
    return 1;
  }
  // An inherited proxy never reaches the tools; only the settings file can set one.
  port::put_env("http_proxy=");

  SettingsStore settings;
  read_settings(argv[1], &settings);
  if (!trees_are_roots(argv[1], settings)) return 1;
  run_gathering_cycle(argv[1], settings);

  settings.release();
  std::fclose(stderr);
  return 0;
}
